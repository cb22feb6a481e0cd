/* The reader thread takes every SET_REPORT out of /dev/hidg0 as soon as it
 * is there: the gadget's HID function holds one at a time and acknowledges
 * the next at once, so a reader that comes late loses the report before it
 * (a log write to the disk between two reads did lose one). It therefore
 * runs at real-time priority and does nothing but read, time-stamp and
 * store; the log is written from the stored reports at the end. The input
 * lines sent go to the log at the end as well, in time order. */
#include "hidside.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int g_fdHid = -1;
static FILE *g_pLog;
static pthread_t g_reader;
static volatile int g_bStop;
static volatile int g_bDead;  /* the node went away with an unplug */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_arrived = PTHREAD_COND_INITIALIZER;
static SFeatureReport g_aReports[HID_MAX_REPORTS];
static int g_nReports;
static char g_szLine[128];
#define HID_MAX_INPUTS 256
typedef struct {
    double dTime;
    char szLine[64];
} SInputLine;
static SInputLine g_aInputs[HID_MAX_INPUTS]; /* main thread only */
static int g_nInputs;
static size_t g_nLine;

double NowSeconds(void) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* The command line the reports spell, one character (byte 1) per report. */
static void LogReport(const SFeatureReport *pReport) {
    fprintf(g_pLog, "%.3f feature", pReport->dTime);
    for (int i = 0; i < pReport->nLength; ++i) fprintf(g_pLog, " %02x", pReport->abData[i]);
    fprintf(g_pLog, "\n");
    if (pReport->nLength < 2) return;
    char c = (char)pReport->abData[1];
    if (g_nLine < sizeof g_szLine - 1) g_szLine[g_nLine++] = c;
    if (c != '\n') return;
    g_szLine[g_nLine] = 0;
    if (g_nLine >= 2) g_szLine[g_nLine - 2] = 0; /* without CR LF */
    fprintf(g_pLog, "%.3f line %s\n", pReport->dTime, g_szLine);
    g_nLine = 0;
}

static void *ReaderThread(void *pUnused) {
    (void)pUnused;
    struct sched_param param = {.sched_priority = 90};
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    while (!g_bStop) {
        struct pollfd pfd = {.fd = g_fdHid, .events = POLLIN};
        if (poll(&pfd, 1, 200) <= 0) continue;
        SFeatureReport report = {0};
        ssize_t n = read(g_fdHid, report.abData, sizeof report.abData);
        report.dTime = NowSeconds();
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            g_bDead = 1;
            usleep(20000);
        }
        if (n <= 0) continue;
        report.nLength = (int)n;
        pthread_mutex_lock(&g_lock);
        if (g_nReports < HID_MAX_REPORTS) g_aReports[g_nReports++] = report;
        pthread_cond_broadcast(&g_arrived);
        pthread_mutex_unlock(&g_lock);
    }
    return NULL;
}

static int OpenAndRead(void) {
    for (int i = 0; i < 100 && g_fdHid < 0; ++i) {
        g_fdHid = open("/dev/hidg0", O_RDWR | O_NONBLOCK);
        if (g_fdHid < 0) usleep(50000);
    }
    if (g_fdHid < 0) {
        fprintf(stderr, "handsetd: open /dev/hidg0: %s\n", strerror(errno));
        return -1;
    }
    g_bStop = 0;
    g_bDead = 0;
    return pthread_create(&g_reader, NULL, ReaderThread, NULL) ? -1 : 0;
}

static void StopReading(void) {
    if (g_fdHid < 0) return;
    g_bStop = 1;
    pthread_join(g_reader, NULL);
    close(g_fdHid);
    g_fdHid = -1;
}

int HidStart(const char *pszLogPath) {
    g_pLog = fopen(pszLogPath, "w");
    return g_pLog ? OpenAndRead() : -1;
}

int HidReattach(void) {
    if (!g_bDead && g_fdHid >= 0) return 0;
    StopReading();
    return OpenAndRead();
}

void HidStop(void) {
    StopReading();
    if (!g_pLog) return;
    int iInput = 0;
    for (int i = 0; i < g_nReports; ++i) {
        for (; iInput < g_nInputs && g_aInputs[iInput].dTime < g_aReports[i].dTime; ++iInput)
            fprintf(g_pLog, "%.3f input %s\n", g_aInputs[iInput].dTime, g_aInputs[iInput].szLine);
        LogReport(&g_aReports[i]);
    }
    for (; iInput < g_nInputs; ++iInput)
        fprintf(g_pLog, "%.3f input %s\n", g_aInputs[iInput].dTime, g_aInputs[iInput].szLine);
    fclose(g_pLog);
    g_pLog = NULL;
}

int HidWaitReports(int nFrom, int nCount, int nTimeoutMs) {
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += nTimeoutMs / 1000;
    until.tv_nsec += (nTimeoutMs % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) until.tv_sec++, until.tv_nsec -= 1000000000L;
    pthread_mutex_lock(&g_lock);
    while (g_nReports < nFrom + nCount)
        if (pthread_cond_timedwait(&g_arrived, &g_lock, &until) == ETIMEDOUT) break;
    int n = g_nReports;
    pthread_mutex_unlock(&g_lock);
    return n;
}

SFeatureReport HidReport(int i) {
    pthread_mutex_lock(&g_lock);
    SFeatureReport report = g_aReports[i];
    pthread_mutex_unlock(&g_lock);
    return report;
}

static int WriteInput(char c) {
    unsigned char ab[2] = {1, (unsigned char)c};
    /* The IN endpoint takes one report at a time; a write waits for the
       host to have polled the one before (bounded: 200 tries of 5 ms). */
    for (int i = 0; i < 200; ++i) {
        if (write(g_fdHid, ab, 2) == 2) return 0;
        if (errno != EAGAIN && errno != EINTR) break;
        usleep(5000);
    }
    fprintf(stderr, "handsetd: input report %02x: %s\n", (unsigned char)c, strerror(errno));
    return -1;
}

int HidSendLine(const char *pszChars, size_t nChars, int nPaceMs, double *pdFirst, double *pdLast) {
    for (size_t i = 0; i < nChars; ++i) {
        if (i) usleep(nPaceMs * 1000);
        if (WriteInput(pszChars[i])) return -1;
        if (i == 0) *pdFirst = NowSeconds();
        *pdLast = NowSeconds();
    }
    if (g_nInputs < HID_MAX_INPUTS) {
        SInputLine *pLine = &g_aInputs[g_nInputs++];
        size_t n = 0;
        for (size_t i = 0; i < nChars && n < sizeof pLine->szLine - 1; ++i)
            if (pszChars[i] != '\r' && pszChars[i] != '\n') pLine->szLine[n++] = pszChars[i];
        pLine->szLine[n] = 0;
        pLine->dTime = *pdLast;
    }
    return 0;
}
