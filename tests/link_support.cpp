// Shared pieces of the handset link suites (see link_support.h).
#include "link_support.h"

#include <algorithm>

#include "stopwatch.h"
#include "support/LogReporter.h"

namespace {

const char *const D_szWindowClass = "LinkTestHostWindow";

bool IsLinkMessage(UINT nMessage) { return nMessage >= WM_USER + 100 && nMessage <= WM_USER + 110; }

std::string ToUtf8(const std::wstring &wstr) {
    int nBytes = WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string str(nBytes > 0 ? nBytes - 1 : 0, '\0');
    if (nBytes > 1) WideCharToMultiByte(CP_UTF8, 0, wstr.c_str(), -1, &str[0], nBytes, nullptr, nullptr);
    return str;
}

std::wstring FromGbk(const std::string &str) {
    int nChars = MultiByteToWideChar(936, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring wstr(nChars, L'\0');
    if (nChars > 0) MultiByteToWideChar(936, 0, str.data(), static_cast<int>(str.size()), &wstr[0], nChars);
    return wstr;
}

}  // namespace

CHostWindow::CHostWindow() : m_nSeen(0) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = D_szWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly once registered
    m_hWnd = CreateWindowExA(0, D_szWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                             nullptr);
}

CHostWindow::~CHostWindow() {
    if (m_hWnd) DestroyWindow(m_hWnd);
}

bool CHostWindow::PumpOnce(DWORD dwTimeoutMs) {
    MSG msg;
    if (!PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE)) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, dwTimeoutMs, QS_ALLINPUT) != WAIT_OBJECT_0) return false;
        if (!PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE)) return true;
    }
    if (IsLinkMessage(msg.message)) m_received.push_back(msg);
    DispatchMessageA(&msg);
    return true;
}

bool CHostWindow::WaitFor(UINT nMessage, DWORD dwTimeoutMs, MSG *pMsg) {
    CStopwatch sinceStart;
    for (;;) {
        for (; m_nSeen < m_received.size(); ++m_nSeen) {
            if (m_received[m_nSeen].message != nMessage) continue;
            if (pMsg) *pMsg = m_received[m_nSeen];
            ++m_nSeen;
            return true;
        }
        const DWORD dwElapsed = sinceStart.ElapsedMs();
        if (dwElapsed >= dwTimeoutMs) return false;
        PumpOnce(dwTimeoutMs - dwElapsed);
    }
}

DWORD CHostWindow::MillisecondsBetween(UINT nFirst, UINT nSecond, DWORD dwTimeoutMs) {
    if (!WaitFor(nFirst, dwTimeoutMs)) return INFINITE;
    CStopwatch sinceFirst;
    if (!WaitFor(nSecond, dwTimeoutMs)) return INFINITE;
    return sinceFirst.ElapsedMs();
}

void CHostWindow::Pump(DWORD dwMilliseconds) {
    CStopwatch sinceStart;
    for (DWORD dwElapsed = 0; dwElapsed < dwMilliseconds; dwElapsed = sinceStart.ElapsedMs())
        PumpOnce(dwMilliseconds - dwElapsed);
}

std::vector<UINT> CHostWindow::ReceivedNumbers() const {
    std::vector<UINT> numbers;
    for (const MSG &msg : m_received) numbers.push_back(msg.message);
    return numbers;
}

CLogLines &CLogLines::Get() {
    static CLogLines s_log;
    return s_log;
}

CLogLines::CLogLines() : m_llMark(0) {
    char szPath[MAX_PATH];
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath);
    const size_t nSlash = strPath.find_last_of('\\');
    m_strDirectory = strPath.substr(0, nSlash + 1);
    std::string strName = strPath.substr(nSlash + 1);
    m_strPrefix = strName.substr(0, strName.find('.'));
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_strDirectory + m_strPrefix + "_*.log").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do DeleteFileA((m_strDirectory + found.cFileName).c_str());
        while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    g_LogReporter.Open(m_strPrefix.c_str(), "_", false);
}

LONGLONG CLogLines::FileSize() const {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_strDirectory + m_strPrefix + "_*.log").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    FindClose(hFind);
    return (static_cast<LONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

void CLogLines::Mark() { m_llMark = FileSize(); }

std::vector<std::wstring> CLogLines::Since() const {
    std::vector<std::wstring> lines;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((m_strDirectory + m_strPrefix + "_*.log").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE) return lines;
    FindClose(hFind);
    HANDLE hFile = CreateFileA((m_strDirectory + found.cFileName).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return lines;
    std::string strText;
    LARGE_INTEGER liMark;
    liMark.QuadPart = m_llMark;
    SetFilePointerEx(hFile, liMark, nullptr, FILE_BEGIN);
    char acChunk[4096];
    DWORD dwRead = 0;
    while (ReadFile(hFile, acChunk, sizeof acChunk, &dwRead, nullptr) && dwRead) strText.append(acChunk, dwRead);
    CloseHandle(hFile);
    // "<14 digits>\t<message> \r\n"
    for (size_t nStart = 0, nEnd; (nEnd = strText.find("\r\n", nStart)) != std::string::npos; nStart = nEnd + 2) {
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        const size_t nTab = strLine.find('\t');
        strLine = strLine.substr(nTab == std::string::npos ? 0 : nTab + 1);
        if (!strLine.empty() && strLine.back() == ' ') strLine.pop_back();
        lines.push_back(FromGbk(strLine));
    }
    return lines;
}

int CLogLines::CountSince(const std::wstring &wstrLine) const {
    const std::vector<std::wstring> lines = Since();
    return static_cast<int>(std::count(lines.begin(), lines.end(), wstrLine));
}

std::string Describe(const std::vector<std::wstring> &lines) {
    std::string str = "log lines since the mark:";
    for (const std::wstring &wstr : lines) str += "\n  [" + ToUtf8(wstr) + "]";
    return str;
}

std::string DescribeMessages(const std::vector<UINT> &messages) {
    std::string str = "messages posted:";
    for (UINT n : messages) str += " " + std::to_string(n);
    return str;
}

void LinkFixture::SetUp() {
    m_link.SetNotifyWindow(m_window.Handle());
    CLogLines::Get().Mark();
}

void LinkFixture::TearDown() { StopLink(); }

void LinkFixture::StartConnected() {
    m_link.Start(0);
    m_bStarted = true;
    ASSERT_TRUE(Desk().WaitUntilReading(D_dwHandsetFoundBoundMs))
        << "the link thread should open the handset and start reading";
}

bool LinkFixture::StopLink() {
    if (!m_bStarted) return true;
    m_bStarted = false;
    return m_link.Stop(CDeadline(CBaseThread::D_dwStopBoundMs)) != FALSE;
}
