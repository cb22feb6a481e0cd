// The emulated desk's overlapped input reads (see EmulatedHid.h): the
// handset's characters travel as 2-byte input reports into the buffer of
// each open handle; a read takes one report, at once if one is buffered,
// otherwise it stays pending until input, CancelIo, CloseHandle or an unplug
// ends it. Completion fills the OVERLAPPED and sets its event.
#include <winternl.h>

#include "hid/EmulatedHid.h"
#include "hid/EmulatedHidInternal.h"

void CEmulatedHid::Complete(Handle &handle, LONG nStatus) {
    LPOVERLAPPED pOverlapped = handle.pPending;
    handle.pPending = nullptr;
    pOverlapped->InternalHigh = nStatus == D_nStatusSuccess ? D_nInputReportLength : 0;
    pOverlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(nStatus));
    if (m_devices[handle.nDevice].bHandset) ResetEvent(m_hReading);
    if (pOverlapped->hEvent) SetEvent(pOverlapped->hEvent);
}

void CEmulatedHid::DeliverWaitingInput(Handle &handle) {
    if (!handle.pPending || handle.input.empty()) return;
    handle.pPendingBuffer[0] = D_cInputReportID;
    handle.pPendingBuffer[1] = static_cast<BYTE>(handle.input.front());
    handle.input.pop_front();
    Complete(handle, D_nStatusSuccess);
}

BOOL CEmulatedHid::Read(HANDLE hDevice, LPVOID pBuffer, DWORD dwToRead, LPDWORD pdwRead, LPOVERLAPPED pOverlapped) {
    CScopedLock lock(m_cs);
    Handle *pHandle = FindUsable(hDevice);
    if (!pHandle) return FALSE;
    DWORD dwError = ERROR_SUCCESS;
    if (!pOverlapped || !pHandle->bOverlapped || pHandle->pPending)
        dwError = ERROR_INVALID_PARAMETER;  // this emulation reads overlapped, one at a time
    else if (dwToRead < D_nInputReportLength)
        dwError = ERROR_INVALID_USER_BUFFER;
    else if (m_dwFailReadStart)
        dwError = m_dwFailReadStart;
    else if (pHandle->bDead)
        dwError = UnpluggedError();
    if (dwError != ERROR_SUCCESS) {
        m_dwFailReadStart = 0;
        SetLastError(dwError);
        return FALSE;
    }
    pHandle->pPending = pOverlapped;
    pHandle->pPendingBuffer = static_cast<BYTE *>(pBuffer);
    pOverlapped->Internal = D_nStatusPending;
    pOverlapped->InternalHigh = 0;
    if (!pHandle->input.empty()) {
        // A buffered report completes the read at once; Windows still sets
        // the event.
        DeliverWaitingInput(*pHandle);
        if (pdwRead) *pdwRead = D_nInputReportLength;
        return TRUE;
    }
    if (m_devices[pHandle->nDevice].bHandset) SetEvent(m_hReading);
    if (m_nFailPendingRead) {
        Complete(*pHandle, m_nFailPendingRead);
        m_nFailPendingRead = 0;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL CEmulatedHid::OverlappedResult(LPOVERLAPPED pOverlapped, LPDWORD pdwTransferred, BOOL bWait) {
    // Like Windows, this looks only at the OVERLAPPED, not at the handle.
    // Nothing here waits for ever: a read no one completes shows as a
    // read still incomplete after 10 s.
    if (bWait && pOverlapped->hEvent) WaitForSingleObject(pOverlapped->hEvent, 10000);
    CScopedLock lock(m_cs);
    const LONG nStatus = static_cast<LONG>(pOverlapped->Internal);
    if (nStatus == D_nStatusPending) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (pdwTransferred) *pdwTransferred = static_cast<DWORD>(pOverlapped->InternalHigh);
    if (nStatus != D_nStatusSuccess) {
        SetLastError(RtlNtStatusToDosError(nStatus));
        return FALSE;
    }
    return TRUE;
}

BOOL CEmulatedHid::Cancel(HANDLE hDevice) {
    CScopedLock lock(m_cs);
    Handle *pHandle = FindUsable(hDevice);
    if (!pHandle) return FALSE;
    if (pHandle->pPending) {
        ++m_nCancels;
        Complete(*pHandle, D_nStatusCancelled);
    }
    return TRUE;
}

BOOL CEmulatedHid::Close(HANDLE hDevice) {
    CScopedLock lock(m_cs);
    Handle *pHandle = FindUsable(hDevice);
    if (!pHandle) return FALSE;
    // Closing the last handle cancels what is still pending on it.
    if (pHandle->pPending) Complete(*pHandle, D_nStatusCancelled);
    pHandle->bClosed = true;
    pHandle->input.clear();
    return TRUE;
}
