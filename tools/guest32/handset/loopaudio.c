/* Raw ALSA PCM ioctls on /dev/snd, so that the handset program stays one
 * static binary without alsa-lib. Both streams run 8000 Hz, S16_LE, mono,
 * 40 ms periods; Wine's side is converted to that by its plug PCMs, so the
 * two ends of each loopback cable always agree. A cable whose ends disagree
 * is what made an earlier capture here fail with I/O errors: snd-aloop stops
 * the capture (to DRAINING) when the playback starts with another format,
 * and every later read then fails. A stream that still stops (an overrun)
 * is prepared and started again, and the error counted. */
#include "loopaudio.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sound/asound.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "KnownSignal.h"
#include "hidside.h"

#define PERIOD_FRAMES 320
#define PERIODS 8

typedef struct {
    int fd;
    int bCapture;
    pthread_t thread;
    volatile int bStop;
    FILE *pOut;
    uint32_t nSeed;
    long nFrames;
    int nErrors;
    double dStart;
} SStream;

static SStream g_earpiece = {.fd = -1}, g_microphone = {.fd = -1};

static void MaskSet(struct snd_pcm_hw_params *p, int nParam, unsigned nValue) {
    struct snd_mask *m = &p->masks[nParam - SNDRV_PCM_HW_PARAM_FIRST_MASK];
    memset(m, 0, sizeof *m);
    m->bits[nValue >> 5] |= 1u << (nValue & 31);
}

static void IntervalSet(struct snd_pcm_hw_params *p, int nParam, unsigned nValue) {
    struct snd_interval *i = &p->intervals[nParam - SNDRV_PCM_HW_PARAM_FIRST_INTERVAL];
    memset(i, 0, sizeof *i);
    i->min = i->max = nValue;
    i->integer = 1;
}

static void HwAny(struct snd_pcm_hw_params *p) {
    memset(p, 0, sizeof *p);
    for (int n = SNDRV_PCM_HW_PARAM_FIRST_MASK; n <= SNDRV_PCM_HW_PARAM_LAST_MASK; ++n)
        memset(&p->masks[n - SNDRV_PCM_HW_PARAM_FIRST_MASK], 0xff, sizeof(struct snd_mask));
    for (int n = SNDRV_PCM_HW_PARAM_FIRST_INTERVAL; n <= SNDRV_PCM_HW_PARAM_LAST_INTERVAL; ++n)
        p->intervals[n - SNDRV_PCM_HW_PARAM_FIRST_INTERVAL].max = ~0u;
    p->rmask = ~0u;
    p->info = ~0u;
}

static int LoopbackCard(void) {
    char szLink[64] = {0};
    if (readlink("/proc/asound/Loopback", szLink, sizeof szLink - 1) < 0) return -1;
    int nCard = -1;
    return sscanf(szLink, "card%d", &nCard) == 1 ? nCard : -1;
}

static int OpenStream(SStream *s) {
    char szPath[64];
    int nCard = LoopbackCard();
    if (nCard < 0) {
        fprintf(stderr, "handsetd: no Loopback sound card (snd-aloop not loaded?)\n");
        return -1;
    }
    snprintf(szPath, sizeof szPath, "/dev/snd/pcmC%dD1%c", nCard, s->bCapture ? 'c' : 'p');
    s->fd = open(szPath, O_RDWR | O_CLOEXEC);
    if (s->fd < 0) {
        fprintf(stderr, "handsetd: open %s: %s\n", szPath, strerror(errno));
        return -1;
    }
    struct snd_pcm_hw_params hw;
    HwAny(&hw);
    MaskSet(&hw, SNDRV_PCM_HW_PARAM_ACCESS, SNDRV_PCM_ACCESS_RW_INTERLEAVED);
    MaskSet(&hw, SNDRV_PCM_HW_PARAM_FORMAT, SNDRV_PCM_FORMAT_S16_LE);
    MaskSet(&hw, SNDRV_PCM_HW_PARAM_SUBFORMAT, SNDRV_PCM_SUBFORMAT_STD);
    IntervalSet(&hw, SNDRV_PCM_HW_PARAM_CHANNELS, 1);
    IntervalSet(&hw, SNDRV_PCM_HW_PARAM_RATE, KNOWN_SIGNAL_RATE);
    IntervalSet(&hw, SNDRV_PCM_HW_PARAM_PERIOD_SIZE, PERIOD_FRAMES);
    IntervalSet(&hw, SNDRV_PCM_HW_PARAM_PERIODS, PERIODS);
    if (ioctl(s->fd, SNDRV_PCM_IOCTL_HW_PARAMS, &hw) < 0) {
        fprintf(stderr, "handsetd: %s hw params: %s\n", szPath, strerror(errno));
        return -1;
    }
    struct snd_pcm_sw_params sw;
    memset(&sw, 0, sizeof sw);
    snd_pcm_uframes_t nBoundary = PERIOD_FRAMES * PERIODS;
    while (nBoundary * 2 <= 0x7fffffffUL - PERIOD_FRAMES * PERIODS) nBoundary *= 2;
    sw.period_step = 1;
    sw.avail_min = PERIOD_FRAMES;
    sw.xfer_align = 1;
    sw.start_threshold = nBoundary; /* started explicitly */
    sw.stop_threshold = s->bCapture ? PERIOD_FRAMES * PERIODS : nBoundary;
    sw.boundary = nBoundary;
    sw.proto = SNDRV_PCM_VERSION;
    if (ioctl(s->fd, SNDRV_PCM_IOCTL_SW_PARAMS, &sw) < 0 || ioctl(s->fd, SNDRV_PCM_IOCTL_PREPARE) < 0) {
        fprintf(stderr, "handsetd: %s sw params/prepare: %s\n", szPath, strerror(errno));
        return -1;
    }
    return 0;
}

static void Restart(SStream *s) {
    ++s->nErrors;
    ioctl(s->fd, SNDRV_PCM_IOCTL_PREPARE);
    ioctl(s->fd, SNDRV_PCM_IOCTL_START);
}

static void Transfer(SStream *s, int16_t *pFrames) {
    struct snd_xferi x = {.buf = pFrames, .frames = PERIOD_FRAMES};
    if (!s->bCapture)
        for (int i = 0; i < PERIOD_FRAMES; ++i) pFrames[i] = KnownSignalSample(s->nSeed, (uint32_t)(s->nFrames + i));
    if (ioctl(s->fd, s->bCapture ? SNDRV_PCM_IOCTL_READI_FRAMES : SNDRV_PCM_IOCTL_WRITEI_FRAMES, &x) < 0) {
        fprintf(stderr, "handsetd: %s: %s\n", s->bCapture ? "earpiece read" : "microphone write", strerror(errno));
        Restart(s);
        return;
    }
    if (s->bCapture) fwrite(pFrames, 2, (size_t)x.result, s->pOut);
    s->nFrames += x.result;
}

static void *StreamThread(void *pContext) {
    SStream *s = pContext;
    struct sched_param param = {.sched_priority = 40};
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    int16_t aFrames[PERIOD_FRAMES];
    while (!s->bStop) Transfer(s, aFrames);
    return NULL;
}

static int StartStream(SStream *s) {
    if (OpenStream(s)) {
        if (s->fd >= 0) close(s->fd);
        s->fd = -1;
        return -1;
    }
    s->bStop = 0;
    s->nFrames = 0;
    s->nErrors = 0;
    if (!s->bCapture) {
        /* Two periods ahead, so that the first wake-up finds sound queued. */
        int16_t aFrames[PERIOD_FRAMES];
        Transfer(s, aFrames);
        Transfer(s, aFrames);
    }
    if (ioctl(s->fd, SNDRV_PCM_IOCTL_START) < 0) {
        fprintf(stderr, "handsetd: start: %s\n", strerror(errno));
        return -1;
    }
    s->dStart = NowSeconds();
    return pthread_create(&s->thread, NULL, StreamThread, s) ? -1 : 0;
}

static void StopStream(SStream *s, long *pnFrames, int *pnErrors) {
    if (s->fd < 0) return;
    s->bStop = 1;
    pthread_join(s->thread, NULL);
    ioctl(s->fd, SNDRV_PCM_IOCTL_DROP);
    close(s->fd);
    s->fd = -1;
    *pnFrames = s->nFrames;
    *pnErrors = s->nErrors;
}

int EarpieceStart(const char *pszRawPath, double *pdStart) {
    g_earpiece.bCapture = 1;
    g_earpiece.pOut = fopen(pszRawPath, "wb");
    if (!g_earpiece.pOut || StartStream(&g_earpiece)) return -1;
    *pdStart = g_earpiece.dStart;
    return 0;
}

void EarpieceStop(long *pnFrames, int *pnErrors) {
    StopStream(&g_earpiece, pnFrames, pnErrors);
    if (g_earpiece.pOut) fclose(g_earpiece.pOut);
    g_earpiece.pOut = NULL;
}

long EarpieceFrames(void) { return g_earpiece.nFrames; }

int MicrophoneStart(uint32_t nSeed, double *pdStart) {
    g_microphone.bCapture = 0;
    g_microphone.nSeed = nSeed;
    if (StartStream(&g_microphone)) return -1;
    /* Sample 0 went into the buffer before the start, so it sounds then. */
    *pdStart = g_microphone.dStart;
    return 0;
}

void MicrophoneStop(long *pnFrames, int *pnErrors) { StopStream(&g_microphone, pnFrames, pnErrors); }

void WineSideState(char *pszOut, int nBytes) {
    snprintf(pszOut, (size_t)nBytes, "closed");
    int nCard = LoopbackCard();
    for (int nDir = 0; nDir < 2 && nCard >= 0; ++nDir) {
        char szDir[64];
        snprintf(szDir, sizeof szDir, "/proc/asound/card%d/pcm0%c", nCard, nDir ? 'c' : 'p');
        DIR *pDir = opendir(szDir);
        struct dirent *pEntry;
        while (pDir && (pEntry = readdir(pDir))) {
            if (strncmp(pEntry->d_name, "sub", 3) != 0) continue;
            char szPath[400], szState[64] = {0};
            snprintf(szPath, sizeof szPath, "%s/%s/status", szDir, pEntry->d_name);
            FILE *p = fopen(szPath, "r");
            if (p && fgets(szState, sizeof szState, p) && strncmp(szState, "closed", 6) != 0) {
                szState[strcspn(szState, "\n")] = 0;
                snprintf(pszOut, (size_t)nBytes, "%s/%s %s", szDir + 13, pEntry->d_name, szState);
            }
            if (p) fclose(p);
        }
        if (pDir) closedir(pDir);
    }
}
