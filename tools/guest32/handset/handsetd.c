/* handsetd: the Halvex handset made in the guest's kernel, for the
 * real-stack run of the shipped handset plug-in.
 *   handsetd -- PROGRAM ARGS...
 * creates the USB gadget (gadget.c), plugs it in, and runs PROGRAM (the
 * test host under Wine) with its standard input and output on pipes. Lines
 * the host writes that begin with "@" are requests to the handset, each
 * answered with one line on the host's input ("ok ..." or "error ...");
 * every other line goes to this program's output. The handset's own record
 * of the run is handset.log in the current folder. Exit status: the
 * host's, or 3 when the handset could not be made. */
#include <errno.h>
#include <stdarg.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gadget.h"
#include "hidside.h"
#include "loopaudio.h"

static FILE *g_pToHost;

static void Reply(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));
static void Reply(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    vfprintf(g_pToHost, pszFormat, args);
    va_end(args);
    fputc('\n', g_pToHost);
    fflush(g_pToHost);
}

/* "\r" and "\n" in a request stand for CR and LF. */
static size_t Unescape(const char *pszIn, char *pOut, size_t nMax) {
    size_t n = 0;
    for (; *pszIn && n < nMax; ++pszIn) {
        if (pszIn[0] == '\\' && (pszIn[1] == 'r' || pszIn[1] == 'n')) {
            pOut[n++] = pszIn[1] == 'r' ? '\r' : '\n';
            ++pszIn;
        } else {
            pOut[n++] = *pszIn;
        }
    }
    return n;
}

static void ReportsRequest(const char *pszArgs) {
    int nFrom = 0, nCount = 0, nTimeoutMs = 0;
    if (sscanf(pszArgs, "%d %d %d", &nFrom, &nCount, &nTimeoutMs) != 3) {
        Reply("error usage: @reports FROM COUNT TIMEOUT_MS");
        return;
    }
    int nTotal = HidWaitReports(nFrom, nCount, nTimeoutMs);
    fprintf(g_pToHost, "ok %d", nTotal);
    for (int i = nFrom; i < nTotal; ++i) {
        SFeatureReport r = HidReport(i);
        fprintf(g_pToHost, " %.3f:", r.dTime);
        for (int b = 0; b < r.nLength; ++b) fprintf(g_pToHost, "%02x", r.abData[b]);
    }
    Reply("%s", "");
}

static void AudioRequest(const char *pszVerb, const char *pszArgs) {
    double dStart = 0;
    long nFrames = 0;
    int nErrors = 0;
    if (!strcmp(pszVerb, "earpiece-start")) {
        if (EarpieceStart(pszArgs, &dStart)) Reply("error earpiece capture did not start");
        else Reply("ok %.4f", dStart);
    } else if (!strcmp(pszVerb, "mic-start")) {
        if (MicrophoneStart((uint32_t)strtoul(pszArgs, NULL, 10), &dStart)) Reply("error microphone did not start");
        else Reply("ok %.4f", dStart);
    } else if (!strcmp(pszVerb, "earpiece-frames")) {
        Reply("ok %ld", EarpieceFrames());
    } else if (!strcmp(pszVerb, "earpiece-stop") || !strcmp(pszVerb, "mic-stop")) {
        (pszVerb[0] == 'e' ? EarpieceStop : MicrophoneStop)(&nFrames, &nErrors);
        Reply("ok %ld %d", nFrames, nErrors);
    } else {
        char szState[160];
        WineSideState(szState, sizeof szState);
        Reply("ok %s", szState);
    }
}

static void Request(char *pszLine) {
    pszLine[strcspn(pszLine, "\r\n")] = 0;
    char *pszArgs = strchr(pszLine, ' ');
    if (pszArgs) *pszArgs++ = 0;
    else pszArgs = pszLine + strlen(pszLine);
    const char *pszVerb = pszLine + 1;
    if (!strcmp(pszVerb, "plug") || !strcmp(pszVerb, "unplug")) {
        int bPlug = pszVerb[0] == 'p';
        double dAt = NowSeconds();
        int nResult = GadgetPlug(bPlug);
        if (bPlug && !nResult) nResult = HidReattach();
        if (nResult) Reply("error %s failed", pszVerb);
        else Reply("ok %.4f %.4f", dAt, NowSeconds());
    } else if (!strcmp(pszVerb, "send")) {
        char acChars[256];
        int nPaceMs = atoi(pszArgs);
        const char *pszText = strchr(pszArgs, ' ');
        size_t n = pszText ? Unescape(pszText + 1, acChars, sizeof acChars) : 0;
        double dFirst = 0, dLast = 0;
        if (HidSendLine(acChars, n, nPaceMs, &dFirst, &dLast)) Reply("error input report not taken");
        else Reply("ok %.4f %.4f", dFirst, dLast);
    } else if (!strcmp(pszVerb, "reports")) {
        ReportsRequest(pszArgs);
    } else if (!strcmp(pszVerb, "time")) {
        Reply("ok %.4f", NowSeconds());
    } else if (strstr(pszVerb, "earpiece") || strstr(pszVerb, "mic") || !strcmp(pszVerb, "alsa")) {
        AudioRequest(pszVerb, pszArgs);
    } else {
        Reply("error unknown request %s", pszVerb);
    }
}

/* The host's lines until it ends. A process the host started could keep
 * the pipe open after the host itself is gone, so the host's end, not the
 * pipe's, ends the loop. */
static int Serve(pid_t pid, int fdFromHost) {
    static char acLine[65536];
    size_t nLine = 0;
    int nStatus = 0;
    for (;;) {
        struct pollfd pfd = {.fd = fdFromHost, .events = POLLIN};
        int nReady = poll(&pfd, 1, 500);
        ssize_t n = nReady > 0 ? read(fdFromHost, acLine + nLine, sizeof acLine - 1 - nLine) : 0;
        if (nReady > 0 && n <= 0) break;
        nLine += n > 0 ? (size_t)n : 0;
        char *pEnd;
        while ((pEnd = memchr(acLine, '\n', nLine)) != NULL) {
            *pEnd = 0;
            if (acLine[0] == '@') Request(acLine);
            else printf("%s\n", acLine);
            nLine -= (size_t)(pEnd + 1 - acLine);
            memmove(acLine, pEnd + 1, nLine);
        }
        if (nLine == sizeof acLine - 1) nLine = 0; /* a line too long for anyone */
        if (nReady == 0 && waitpid(pid, &nStatus, WNOHANG) == pid) return nStatus;
    }
    waitpid(pid, &nStatus, 0);
    return nStatus;
}

static pid_t StartHost(char **argv, int *pfdFromHost) {
    int aToHost[2], aFromHost[2];
    if (pipe(aToHost) || pipe(aFromHost)) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(aToHost[0], 0);
        dup2(aFromHost[1], 1);
        close(aToHost[0]), close(aToHost[1]), close(aFromHost[0]), close(aFromHost[1]);
        execvp(argv[0], argv);
        fprintf(stderr, "handsetd: cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    close(aToHost[0]);
    close(aFromHost[1]);
    g_pToHost = fdopen(aToHost[1], "w");
    *pfdFromHost = aFromHost[0];
    return pid;
}

int main(int argc, char **argv) {
    if (argc < 3 || strcmp(argv[1], "--")) {
        fprintf(stderr, "usage: handsetd -- PROGRAM ARGS...\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    /* No page fault may delay the reader of the feature reports. */
    mlockall(MCL_CURRENT | MCL_FUTURE);
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (GadgetCreate() || GadgetPlug(1) || HidStart("handset.log")) {
        GadgetRemove();
        return 3;
    }
    int fdFromHost = -1;
    pid_t pid = StartHost(argv + 2, &fdFromHost);
    int nStatus = 0;
    if (pid > 0) nStatus = Serve(pid, fdFromHost);
    long nFrames;
    int nErrors;
    EarpieceStop(&nFrames, &nErrors);
    MicrophoneStop(&nFrames, &nErrors);
    HidStop();
    GadgetRemove();
    return pid > 0 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1;
}
