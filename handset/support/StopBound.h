// CStopBound: what a stop may assume and how long it may wait.
//
// The library's detach step runs inside the entry point, under the loader
// lock, and every thread start, thread end and library load of the host
// waits for it meanwhile. The entry point knows that it holds the lock and
// says so; the stops below it never guess it from the process's internals.
// The detach step also has one deadline for all of its waits together, so
// that workers that are all stuck at once cost the host that deadline, not
// the sum of their bounds: each wait takes its own bound or what is left,
// whichever is shorter.
//
// The detach step makes its bound the current one of its own thread for its
// duration (CStopBound::Scope), so that the locks it takes deep in the audio
// and log code are bounded too (CBoundedScope) without every step in between
// carrying it. Any other thread sees no current bound and waits as before.
#pragma once

#include <windows.h>

class CStopBound {
public:
    // An ordinary stop: not under the loader lock, no deadline.
    CStopBound();
    // A deadline dwBoundMs from now.
    CStopBound(bool bUnderLoaderLock, DWORD dwBoundMs);

    bool UnderLoaderLock() const { return m_bUnderLoaderLock; }
    // dwOwnMs, or what is left of the deadline when that is shorter.
    DWORD Cap(DWORD dwOwnMs) const;
    // The same bound ending dwMsFromStart after its start, when that comes
    // before its own end.
    CStopBound Until(DWORD dwMsFromStart) const;
    // Whether there is a deadline at all.
    bool Bounded() const { return m_bBounded; }

    // The calling thread's current bound, or null.
    static const CStopBound *Current();
    // Makes a bound the calling thread's current one for a scope.
    class Scope {
    public:
        explicit Scope(const CStopBound &bound);
        ~Scope();

    private:
        const CStopBound *m_pPrevious;
        DWORD m_dwPreviousThread;
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
    };

    // Set when a stop has ended a worker where it stood (not at one of its
    // waits): locks it held are never released. Cleared by an outermost Scope.
    static void NoteEndedWhereItStood();
    static bool AWorkerWasEndedWhereItStood();

private:
    bool m_bUnderLoaderLock;
    bool m_bBounded;
    DWORD m_dwStart;
    DWORD m_dwLengthMs;
};

// Holds a critical section for one scope. On the thread of a current stop
// bound the section is taken within that bound (D_dwMs at most, less once a
// worker was ended where it stood); a section not had in that time is
// skipped with a log line naming szWhat, and Held() is false. Everywhere
// else it is an ordinary EnterCriticalSection.
class CBoundedScope {
public:
    CBoundedScope(CRITICAL_SECTION &cs, const char *szWhat);
    ~CBoundedScope();
    bool Held() const { return m_bHeld; }

    // The most a bounded take waits, and the most once a worker has been
    // ended where it stood (its owner may be that worker).
    static constexpr DWORD D_dwMs = 1000;
    static constexpr DWORD D_dwAfterForcedEndMs = 100;

private:
    CRITICAL_SECTION &m_cs;
    bool m_bHeld;
    CBoundedScope(const CBoundedScope &) = delete;
    CBoundedScope &operator=(const CBoundedScope &) = delete;
};
