/* The handset's earpiece and microphone on the far side of snd-aloop:
 * Wine's "Headset" PCMs are wired to device 0 of the Loopback card, this
 * side uses device 1, so what Wine plays arrives here as capture and what
 * this side plays reaches Wine's capture. */
#ifndef LOOPAUDIO_H
#define LOOPAUDIO_H

#include <stdint.h>

/* Starts capturing the earpiece into pszRawPath (16-bit mono samples);
 * its first frame's time goes to *pdStart. 0 or -1. */
int EarpieceStart(const char *pszRawPath, double *pdStart);
/* Stops it; the frames captured and the capture errors go back. */
void EarpieceStop(long *pnFrames, int *pnErrors);
/* Frames captured so far. */
long EarpieceFrames(void);
/* Starts playing signal nSeed into the microphone from sample 0; the time
 * of sample 0 goes to *pdStart. 0 or -1. */
int MicrophoneStart(uint32_t nSeed, double *pdStart);
void MicrophoneStop(long *pnFrames, int *pnErrors);
/* Whether any substream of the Loopback card's device 0 (Wine's side) is
 * open: "closed" or the first open one's state file content, in pszOut. */
void WineSideState(char *pszOut, int nBytes);

#endif
