// Halvex: the link thread and the event lines (see Halvex.h for threads and
// guards). Everything here runs on the link thread, except that the
// notifications it posts are handled later on the host window's thread.
//
// The thread searches (200 ms pause, search, 2000 ms pause after a miss),
// then reads one 2-byte input report at a time with an overlapped ReadFile.
// A read that stays silent is cancelled every 2000 ms and started again, so
// the thread comes round to its stop test regularly; the stop event is also
// part of every wait, so a stop is seen at once. The search looks for a stop
// between two devices. A hard read error means the handset is gone: the
// handle is closed, the half line dropped, and the search starts again.
//
// Every wait goes through WaitAllowingEnd: if Stop has to end the thread by
// force, it does so in one of them, never inside a call into the system
// (see support/ThreadEnd.h).
#include "core/Halvex.h"

#include <string.h>

#include "platform/hid_api.h"
#include "support/LogReporter.h"

namespace {

// The outcomes that only mean "nothing was read this time": success without
// data, a cancelled read and a read still in flight.
bool IsHardReadError(DWORD dwError) {
    return dwError != ERROR_SUCCESS && dwError != ERROR_OPERATION_ABORTED && dwError != ERROR_IO_PENDING;
}

// How long a cancelled read may take to complete when the thread is stopping.
const DWORD D_dwCancelGraceMs = 50;
// The pause after a read that the device refused at once with a soft error.
const DWORD D_dwRefusedReadPauseMs = 100;

}  // namespace

DWORD Halvex::Run(DWORD) {
    for (;;) {
        if (IsStopRequested(0) || WaitForStop(D_dwSearchPauseMs)) break;
        if (OpenDevice(D_dwHandsetVendorID, D_dwHandsetProductID, D_dwHandsetVersion) == INVALID_HANDLE_VALUE) {
            // A search cut short by a stop is no news for the host.
            if (IsStopRequested(0)) break;
            Notify(D_nMsgNoHandset);
            if (WaitForStop(D_dwSearchRetryMs)) break;
            continue;
        }
        const EConnectionEnd end = RunConnection();
        if (end == EConnectionEnd::Lost) continue;
        // Without a read event nothing can be read, but the handset stays
        // open: commands still reach it, and the destructor closes it.
        if (end == EConnectionEnd::NoReadEvent) return 0;
        break;
    }
    // The link ends with its thread: the next Start searches afresh.
    CloseDevice();
    ResetLine();
    return 1;
}

HANDLE Halvex::CreateReadEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

Halvex::EConnectionEnd Halvex::RunConnection() {
    HANDLE hReadEvent = CreateReadEvent();
    if (!hReadEvent) return EConnectionEnd::NoReadEvent;
    const EConnectionEnd end = ReadLines(hReadEvent);
    CloseHandle(hReadEvent);
    return end;
}

Halvex::EConnectionEnd Halvex::ReadLines(HANDLE hReadEvent) {
    while (!IsStopRequested(0)) {
        char cChar = 0;
        switch (ReadCharacter(hReadEvent, &cChar)) {
        case EReadOutcome::Stopped: return EConnectionEnd::Stopped;
        case EReadOutcome::Failed:
            CloseDevice();
            // A half line from before the loss must not be glued to the
            // first line after the handset comes back.
            ResetLine();
            return EConnectionEnd::Lost;
        case EReadOutcome::Nothing: break;
        case EReadOutcome::Character:
            // At most about two lines a second; what the handset sends
            // meanwhile waits in the HID driver's input buffer.
            if (TakeCharacter(cChar) && WaitForStop(m_dwLinePauseMs)) return EConnectionEnd::Stopped;
            break;
        }
    }
    return EConnectionEnd::Stopped;
}

Halvex::EReadOutcome Halvex::ReadCharacter(HANDLE hReadEvent, char *pcChar) {
    const HANDLE hDevice = m_hDevice;
    memset(m_abReport, 0, sizeof m_abReport);
    memset(&m_ovRead, 0, sizeof m_ovRead);
    m_ovRead.hEvent = hReadEvent;
    ResetEvent(hReadEvent);
    DWORD dwRead = 0;
    if (!g_Hid.ReadFile(hDevice, m_abReport, sizeof m_abReport, &dwRead, &m_ovRead)) {
        const DWORD dwError = GetLastError();
        if (IsHardReadError(dwError)) {
            g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "读操作错误: %d", static_cast<int>(dwError));
            return EReadOutcome::Failed;
        }
        if (dwError != ERROR_IO_PENDING) {
            // Refused at once (cancelled, or nothing to say) without being
            // a hard error: no read is pending, so its event would never
            // come. A short pause keeps a handle that keeps refusing from
            // making the thread spin.
            return WaitForStop(D_dwRefusedReadPauseMs) ? EReadOutcome::Stopped : EReadOutcome::Nothing;
        }
        const EReadOutcome outcome = AwaitRead(hDevice, hReadEvent);
        if (outcome != EReadOutcome::Character) return outcome;
    }
    // Byte 0 is the report ID; the count read is not looked at.
    *pcChar = static_cast<char>(m_abReport[1]);
    return EReadOutcome::Character;
}

Halvex::EReadOutcome Halvex::AwaitRead(HANDLE hDevice, HANDLE hReadEvent) {
    for (;;) {
        const DWORD dwWait = WaitForReadOrStop(hReadEvent);
        if (dwWait == WAIT_OBJECT_0) break;
        // A silent slice or a stop: end the read. CancelIo completes it
        // (with ERROR_OPERATION_ABORTED unless data raced in), which sets
        // the event again.
        g_Hid.CancelIo(hDevice);
        if (dwWait == WAIT_OBJECT_0 + 1) {
            WaitAllowingEnd(1, &hReadEvent, D_dwCancelGraceMs);
            return EReadOutcome::Stopped;
        }
        if (dwWait != WAIT_TIMEOUT) {
            // The wait itself failed: treat it as a lost device rather than
            // spin on a wait that returns at once.
            g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "读操作错误: %d", static_cast<int>(GetLastError()));
            return EReadOutcome::Failed;
        }
    }
    DWORD dwRead = 0;
    if (!g_Hid.GetOverlappedResult(hDevice, &m_ovRead, &dwRead, FALSE)) {
        const DWORD dwError = GetLastError();
        if (!IsHardReadError(dwError)) return EReadOutcome::Nothing;
        g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "GetOverlappedResult例程错误: %d", static_cast<int>(dwError));
        return EReadOutcome::Failed;
    }
    return EReadOutcome::Character;
}

// WAIT_OBJECT_0 for the read, WAIT_OBJECT_0 + 1 for a stop request,
// WAIT_TIMEOUT after a silent slice.
DWORD Halvex::WaitForReadOrStop(HANDLE hReadEvent) {
    const HANDLE ahWait[2] = {hReadEvent, StopEvent()};
    if (ahWait[1]) return WaitAllowingEnd(2, ahWait, D_dwReadSliceMs);
    // Without a stop event the stop is only seen between slices.
    const DWORD dwWait = WaitAllowingEnd(1, &hReadEvent, D_dwReadSliceMs);
    if (dwWait == WAIT_TIMEOUT && IsStopRequested(0)) return WAIT_OBJECT_0 + 1;
    return dwWait;
}

void Halvex::ResetLine() { m_decoder.ResetLine(); }

bool Halvex::TakeCharacter(char cChar) {
    CLineEvent event;
    if (!m_decoder.TakeCharacter(cChar, &event)) return false;
    ActOn(event);
    return true;
}

void Halvex::DecodeLine(const char *pLine, int nLength) { ActOn(m_decoder.DecodeLine(pLine, nLength)); }

void Halvex::ActOn(const CLineEvent &event) {
    switch (event.eKind) {
    case ELineEvent::Ring: Notify(D_nMsgRing); break;
    case ELineEvent::Digits: QueueDigits(event.pszField, event.nFieldLength); break;
    case ELineEvent::HangUp:
        // The host sees an empty queue from the moment it learns of the
        // hang-up.
        m_qDTMF.Clear();
        Notify(D_nMsgHangUp);
        break;
    case ELineEvent::OffHook: Notify(D_nMsgOffHook); break;
    case ELineEvent::CallerNumber: ReportCallerNumber(event.pszField, event.nFieldLength); break;
    case ELineEvent::Ping: g_LogReporter.WriteLog(CDeadline(D_dwLogLockMs), "收到Ping回应"); break;
    case ELineEvent::Ignored: break;
    }
}

void Halvex::QueueDigits(const char *pDigits, int nCount) {
    for (int i = 0; i < nCount; ++i) {
        m_qDTMF.Push(static_cast<BYTE>(pDigits[i]));
        if (pDigits[i] == m_cStopIO.load()) Notify(D_nMsgStopDigit);
    }
}

// pszNumber lies in the decoder's ListBuf, which outlives the message.
void Halvex::ReportCallerNumber(const char *pszNumber, int nLength) {
    {
        CLockGuard lock(m_aniLock, CDeadline(D_dwANILockBoundMs));
        if (lock.Held()) {
            memset(m_szANI, 0, sizeof m_szANI);
            memcpy(m_szANI, pszNumber, nLength);
        }
    }
    Notify(D_nMsgCallerNumber, reinterpret_cast<WPARAM>(pszNumber), nLength);
}

void Halvex::Notify(UINT nMessage, WPARAM wParam, LPARAM lParam) {
    // Without a host window the message would land in the link thread's own
    // queue, which nobody reads: drop it instead.
    const HWND hWnd = m_hNotifyWnd;
    if (hWnd) PostMessageA(hWnd, nMessage, wParam, lParam);
}
