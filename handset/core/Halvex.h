// Halvex: the handset link, the plug-in's one connection to the handset's HID
// interface.
//
// Threads: the link thread (Run) searches for the handset, reads its input
// reports one character at a time, decodes the event lines and posts the
// notifications below to the host window; host threads send command lines
// (SendCommand) and drain the queues through the exports.
// Shared state and its guards:
//   m_hDevice    replaced only by the link thread; it closes a handle only
//                after swapping it out under m_sendLock, and SendCommand
//                re-reads it under m_sendLock, so a command line never
//                reaches a closed (or since reused) handle and the reports
//                of two lines never interleave.
//   m_qDTMF, m_qKeys  each guarded by its own lock (CQueue).
//   m_szANI      written by the link thread, copied out by CopyANI, both under
//                m_aniLock.
//   m_hNotifyWnd, m_cStopIO  single words written by host threads (atomic).
// Every wait of the link thread also watches the stop event, so Stop finds it
// ending by itself well inside its 100 ms.
#pragma once

#include <windows.h>

#include <atomic>

#include "core/LineDecoder.h"
#include "core/Queue.h"
#include "support/BaseThread.h"

// Notifications posted to the host window.
const UINT D_nMsgRing = WM_USER + 100;          // R: the handset rings
const UINT D_nMsgStopDigit = WM_USER + 101;     // N: the stop digit arrived
const UINT D_nMsgHangUp = WM_USER + 102;        // H: hung up; digits cleared
const UINT D_nMsgOffHook = WM_USER + 103;       // Z: taken off hook
const UINT D_nMsgCallerNumber = WM_USER + 109;  // C: wParam number, lParam length
const UINT D_nMsgNoHandset = WM_USER + 110;     // a search found no handset

class Halvex : public CBaseThread {
public:
    static constexpr DWORD D_dwHandsetVendorID = 0x0C70;
    static constexpr DWORD D_dwHandsetProductID = 0x0000;
    static constexpr DWORD D_dwHandsetVersion = 0x0100;
    static constexpr int D_nDataBufSize = CLineDecoder::D_nDataBufSize;
    static constexpr int D_nListBufSize = CLineDecoder::D_nListBufSize;
    static constexpr int D_nMaxDialDigits = 26;  // what one 64-byte frame holds
    static constexpr DWORD D_dwSearchPauseMs = 200;
    static constexpr DWORD D_dwSearchRetryMs = 2000;
    static constexpr DWORD D_dwReadSliceMs = 2000;
    static constexpr DWORD D_dwLinePauseMs = 500;
    // How long a command line waits for the one before it (or for the link
    // thread swapping the handle), and the link thread for a command line.
    static constexpr DWORD D_dwSendLockBoundMs = 2000;
    // How long a copy of the caller number waits for the link thread's.
    static constexpr DWORD D_dwANILockBoundMs = 1000;

    Halvex();
    ~Halvex() override;
    DWORD Run(DWORD dwParam) override;

    // Opens the first HID device with these identity numbers; the handle, or
    // INVALID_HANDLE_VALUE. The link thread calls it while none is open.
    HANDLE OpenDevice(DWORD dwVendorID, DWORD dwProductID, DWORD dwVersion);
    // Sends "AT", the letter, the payload (letter B only, at most 26
    // characters) and CR LF, one 3-byte feature report per character.
    void SendCommand(char cLetter, BYTE nLength, const char *pPayload);
    bool IsOpen() const;
    int SetNotifyWindow(HWND hWnd);
    // Copies the last caller number and its NUL (D_nListBufSize bytes at most).
    void CopyANI(char *szOut) const;
    // The rest after every line, D_dwLinePauseMs unless a host that
    // compresses time (the soak) shortens it; the pause paces the host, no
    // event depends on it.
    void SetLinePause(DWORD dwMilliseconds) { m_dwLinePauseMs = dwMilliseconds; }

    CQueue m_qDTMF;
    CQueue m_qKeys;
    // The last caller number, always NUL-terminated; read it with CopyANI.
    char m_szANI[D_nListBufSize];
    std::atomic<char> m_cStopIO;

protected:
    // Link-thread steps, reachable by white-box tests through a subclass.
    // One input character; true when it ended a line (decoded or dropped).
    // The line's event is acted on before it returns.
    bool TakeCharacter(char cChar);
    void DecodeLine(const char *pLine, int nLength);
    // The manual-reset event of one connection's reads, or null; a test
    // overrides it to see the connection without one.
    virtual HANDLE CreateReadEvent();

private:
    enum class EConnectionEnd { Lost, Stopped, NoReadEvent };
    enum class EReadOutcome { Character, Nothing, Failed, Stopped };
    enum class ESearchStep { Found, NextDevice, Failed, Stopped };
    struct Identity {
        DWORD dwVendorID, dwProductID, dwVersion;
    };

    // hSet is the SetupAPI device information set (HDEVINFO).
    ESearchStep TryInterface(PVOID hSet, const GUID &guidHid, DWORD dwIndex, const Identity &wanted, HANDLE *phFound);
    EConnectionEnd RunConnection();
    EConnectionEnd ReadLines(HANDLE hReadEvent);
    EReadOutcome ReadCharacter(HANDLE hReadEvent, char *pcChar);
    EReadOutcome AwaitRead(HANDLE hDevice, HANDLE hReadEvent);
    DWORD WaitForReadOrStop(HANDLE hReadEvent);
    void CloseDevice();
    void ResetLine();
    void ActOn(const CLineEvent &event);
    void QueueDigits(const char *pDigits, int nCount);
    void ReportCallerNumber(const char *pszNumber, int nLength);
    void Notify(UINT nMessage, WPARAM wParam = 0, LPARAM lParam = 0);

    std::atomic<HWND> m_hNotifyWnd;
    std::atomic<HANDLE> m_hDevice;
    // The link thread takes it to swap the handle out and may be ended by
    // force while it holds it (taken over then); a command line waits
    // D_dwSendLockBoundMs at most behind another one.
    CBoundedLock m_sendLock;
    mutable CBoundedLock m_aniLock;

    // Owned by the link thread. The read's report buffer and OVERLAPPED live
    // in the object, not on the thread's stack, so that a read still pending
    // when the thread is ended by force writes into memory that stays valid.
    // The decoder's ListBuf is the buffer whose address message 1133 carries.
    CLineDecoder m_decoder;
    std::atomic<DWORD> m_dwLinePauseMs;
    BYTE m_abReport[2];
    OVERLAPPED m_ovRead;
};

extern Halvex g_Halvex;
