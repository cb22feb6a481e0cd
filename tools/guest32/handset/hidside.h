/* The handset's HID traffic through /dev/hidg0: feature reports from the
 * host, each logged with its time, and the handset's input reports. */
#ifndef HIDSIDE_H
#define HIDSIDE_H

#include <stddef.h>

#define HID_MAX_REPORTS 4096

typedef struct {
    double dTime;             /* seconds since the epoch (CLOCK_REALTIME) */
    unsigned char abData[8];
    int nLength;
} SFeatureReport;

/* Opens /dev/hidg0 and starts the reader thread; pLog gets a line per
 * report. 0 or -1. */
int HidStart(const char *pszLogPath);
void HidStop(void);
/* After a plug: opens /dev/hidg0 afresh if its node went away. */
int HidReattach(void);
/* Waits up to nTimeoutMs until at least nFrom + nCount reports have come;
 * returns how many have come in all. */
int HidWaitReports(int nFrom, int nCount, int nTimeoutMs);
/* Report number i (0 = the first of the run). */
SFeatureReport HidReport(int i);
/* Sends the characters as 2-byte input reports (ID 1), nPaceMs apart, as
 * a handset's controller does; the times of the first and last report go
 * to pdFirst and pdLast. 0, or -1 when a write failed. */
int HidSendLine(const char *pszChars, size_t nChars, int nPaceMs, double *pdFirst, double *pdLast);
double NowSeconds(void);

#endif
