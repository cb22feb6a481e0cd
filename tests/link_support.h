// What the handset link suites share: a host window that records what the
// link posts, a reader for the lines the link writes to the log, and a
// fixture that puts the emulated desk under a fresh handset link.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Halvex.h"
#include "hid/EmulatedHid.h"

// How long a fresh link may take to find and open the emulated handset. The
// search itself takes about 200 ms; the bound is for a machine whose cores
// are busy with other suites, where 1 s did not always hold.
const DWORD D_dwHandsetFoundBoundMs = 10000;

// A message-only window on the test thread, like the host's monitor window.
// Messages reach it only while the test thread pumps (WaitFor, Pump).
class CHostWindow {
public:
    CHostWindow();
    ~CHostWindow();
    HWND Handle() const { return m_hWnd; }

    // Pumps until nMessage arrives; false after dwTimeoutMs. The message's
    // parameters land in *pMsg when given.
    bool WaitFor(UINT nMessage, DWORD dwTimeoutMs, MSG *pMsg = nullptr);
    // Waits for nFirst, then for nSecond, each for at most dwTimeoutMs, and
    // returns the time between them; INFINITE when either did not come.
    DWORD MillisecondsBetween(UINT nFirst, UINT nSecond, DWORD dwTimeoutMs);
    // Pumps for dwMilliseconds, recording everything.
    void Pump(DWORD dwMilliseconds);
    // Messages of the link (1124 to 1134) received so far, in order.
    std::vector<MSG> Received() const { return m_received; }
    std::vector<UINT> ReceivedNumbers() const;
    void Forget() {
        m_received.clear();
        m_nSeen = 0;
    }

private:
    bool PumpOnce(DWORD dwTimeoutMs);
    HWND m_hWnd;
    std::vector<MSG> m_received;
    size_t m_nSeen;
};

// The log lines written since the last Mark, decoded from GBK, without
// their timestamp, tab and trailing space.
class CLogLines {
public:
    // The one log of the test process, opened on first use beside the test
    // executable with the executable's name as prefix, so that suites
    // running side by side keep apart (old files of the prefix are removed).
    static CLogLines &Get();
    void Mark();
    std::vector<std::wstring> Since() const;
    // How many lines since Mark equal wstrLine.
    int CountSince(const std::wstring &wstrLine) const;

private:
    CLogLines();
    LONGLONG FileSize() const;
    std::string m_strDirectory;
    std::string m_strPrefix;
    LONGLONG m_llMark;
};

// A formatted expectation for failure messages: the lines as UTF-8.
std::string Describe(const std::vector<std::wstring> &lines);
std::string DescribeMessages(const std::vector<UINT> &messages);

// Exposes the link thread's line assembly to white-box tests.
class CTestableHalvex : public Halvex {
public:
    using Halvex::DecodeLine;
    using Halvex::TakeCharacter;
    void TakeText(const std::string &strText) {
        for (char c : strText) TakeCharacter(c);
    }
};

// The emulated desk, freshly laid out, in the link's function table for the
// lifetime of this object.
class CDeskInstalled {
public:
    CDeskInstalled() {
        CEmulatedHid::Instance().Reset();
        CEmulatedHid::Instance().Install();
    }
    ~CDeskInstalled() { CEmulatedHid::Instance().Uninstall(); }
};

// A fresh handset link over the emulated desk (the standard desk, handset
// attached), posting to a host window on the test thread. The desk is
// declared first so that it outlives the link, whose destructor closes a
// handle the test left open.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    CEmulatedHid &Desk() { return CEmulatedHid::Instance(); }
    // Starts the link thread and waits until it reads from the handset.
    void StartConnected();
    // Stops the link thread; true when it ended by itself.
    bool StopLink();

    CDeskInstalled m_desk;
    CHostWindow m_window;
    CTestableHalvex m_link;
    bool m_bStarted = false;
};
