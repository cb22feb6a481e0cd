#!/usr/bin/env python3
"""Writes the SIP plug-in's call-progress tones as 8 kHz 16-bit mono PCM WAV.

    make_tones.py FOLDER

DialTones.wav   continuous 350 + 440 Hz, 1 s (looped by the plug-in)
Ringback.wav    425 Hz, 1 s on, 4 s off (looped)
RemoteBusy.wav  400 Hz, 0.35 s on, 0.35 s off, four times (played once)
Ringtone.wav    a soft two-note chime, twice, then 3 s of silence (looped)

Every file loops without a click: a continuous tone holds a whole number of
periods of each of its frequencies and starts at phase zero, so the sample
after the last is the first one again; a burst starts and ends at zero with
short raised-cosine ramps, and every cadence ends in silence.
"""
import math
import struct
import sys
import wave

RATE = 8000
PEAK = 0.5 * 32767          # -6 dBFS for one tone, two tones share it
RAMP = int(0.005 * RATE)    # 5 ms ramps at every burst edge


def tone(frequencies, seconds, ramp=RAMP):
    count = int(round(seconds * RATE))
    level = PEAK / len(frequencies)
    samples = []
    for n in range(count):
        value = sum(math.sin(2 * math.pi * f * n / RATE) for f in frequencies) * level
        if ramp:
            edge = min(n, count - n)
            if edge < ramp:
                value *= 0.5 - 0.5 * math.cos(math.pi * edge / ramp)
        samples.append(value)
    return samples


def silence(seconds):
    return [0.0] * int(round(seconds * RATE))


def chime(frequency, seconds):
    """One bell-like note: quick attack, exponential decay, ends at zero."""
    count = int(round(seconds * RATE))
    samples = []
    for n in range(count):
        decay = math.exp(-4.0 * n / count)
        fade = 1.0 if n < count - RAMP else 0.5 - 0.5 * math.cos(math.pi * (count - n) / RAMP)
        attack = min(1.0, n / RAMP)
        value = (math.sin(2 * math.pi * frequency * n / RATE) +
                 0.3 * math.sin(2 * math.pi * 2 * frequency * n / RATE))
        samples.append(value * PEAK / 1.3 * decay * fade * attack)
    return samples


def dial_tone():
    # 350 and 440 Hz both repeat every 1/10 s: one second holds whole periods.
    return tone((350, 440), 1.0, ramp=0)


def ringback():
    return tone((425,), 1.0) + silence(4.0)


def busy():
    return (tone((400,), 0.35) + silence(0.35)) * 4


def ring_tone():
    ring = chime(880, 0.4) + chime(660, 0.4) + silence(0.2)
    return ring * 2 + silence(3.0)


TONES = {
    "DialTones.wav": dial_tone,
    "Ringback.wav": ringback,
    "RemoteBusy.wav": busy,
    "Ringtone.wav": ring_tone,
}


def write(path, samples):
    frames = b"".join(struct.pack("<h", max(-32768, min(32767, int(round(s))))) for s in samples)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    for name, make in TONES.items():
        write(f"{folder}/{name}", make())
    return 0


if __name__ == "__main__":
    sys.exit(main())
