/* The known signal of the real-stack handset run: sample i of signal KEY is
 * a hash of (KEY, i), never silent in a run of 16, so that any 16 samples
 * of it tell where in the signal they stand. Plain C: the kernel handset
 * (handsetd, Linux) makes it and the test host (Windows) checks it. */
#ifndef KNOWN_SIGNAL_H
#define KNOWN_SIGNAL_H

#include <stdint.h>

/* 8000 Hz, 16-bit mono: the handset plug-in's one wave format. */
#define KNOWN_SIGNAL_RATE 8000
/* Samples the checks compare as one piece. */
#define KNOWN_SIGNAL_CHUNK 16

static inline int16_t KnownSignalSample(uint32_t nSeed, uint32_t nIndex) {
    uint32_t x = nSeed * 0x9E3779B9u ^ nIndex;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    /* Within +-12288 and never 0: no clipping in any converter, and a chunk
       of it never reads as silence. */
    int32_t v = (int32_t)(x % 24575u) - 12287;
    return (int16_t)(v == 0 ? 1 : v);
}

#endif
