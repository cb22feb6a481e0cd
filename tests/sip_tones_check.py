#!/usr/bin/env python3
"""Checks the SIP plug-in's tone files made by the build.

    sip_tones_check.py FOLDER

Each file must be read by outside readers (Python's wave module, and sox
when it is installed) as 8 kHz 16-bit mono PCM, have the cadence asked for
(measured from its 10 ms loudness), and loop without a click: the step from
the last sample back to the first bends the wave no more than any point inside.
"""
import math
import shutil
import struct
import subprocess
import sys
import wave

RATE = 8000
WINDOW = RATE // 100  # 10 ms


def read(path):
    with wave.open(path, "rb") as tone:
        assert tone.getnchannels() == 1, f"{path}: {tone.getnchannels()} channels, want mono"
        assert tone.getsampwidth() == 2, f"{path}: {8 * tone.getsampwidth()}-bit, want 16-bit"
        assert tone.getframerate() == RATE, f"{path}: {tone.getframerate()} Hz, want {RATE}"
        assert tone.getcomptype() == "NONE", f"{path}: compressed, want PCM"
        frames = tone.readframes(tone.getnframes())
    return list(struct.unpack(f"<{len(frames) // 2}h", frames))


def check_with_sox(path):
    if not shutil.which("sox"):
        return
    info = subprocess.run(["sox", "--i", path], capture_output=True, text=True, check=True).stdout
    for want in ("Channels       : 1", "Sample Rate    : 8000", "Precision      : 16-bit",
                 "Sample Encoding: 16-bit Signed Integer PCM"):
        assert want in info, f"{path}: sox says\n{info}\nwant {want!r}"


def segments(samples):
    """(sounding, seconds) runs of 10 ms windows, loud meaning above -30 dBFS."""
    runs = []
    for start in range(0, len(samples) - WINDOW + 1, WINDOW):
        window = samples[start:start + WINDOW]
        loud = math.sqrt(sum(s * s for s in window) / WINDOW) > 32767 * 10 ** (-30 / 20)
        if runs and runs[-1][0] == loud:
            runs[-1][1] += WINDOW / RATE
        else:
            runs.append([loud, WINDOW / RATE])
    return [(loud, round(seconds, 2)) for loud, seconds in runs]


def near(value, want, slack=0.03):
    return abs(value - want) <= slack


def check_loop(path, samples):
    """Across the seam the wave must bend no more than anywhere inside it."""
    bends = max(abs(a - 2 * b + c) for a, b, c in zip(samples, samples[1:], samples[2:]))
    seam = max(abs(samples[-2] - 2 * samples[-1] + samples[0]),
               abs(samples[-1] - 2 * samples[0] + samples[1]))
    assert seam <= bends + 2, f"{path}: loop seam bends {seam}, the file at most {bends}: a click"
    assert abs(samples[0]) <= 1, f"{path}: starts at {samples[0]}, not at a zero crossing"


def check_dial(path, runs):
    assert runs == [(True, runs[0][1])] and runs[0][1] >= 0.99, f"{path}: not continuous: {runs}"


def check_cadence(on, off, count):
    def check(path, runs):
        assert len(runs) == 2 * count, f"{path}: {len(runs)} runs, want {count} on and off: {runs}"
        for index, (loud, seconds) in enumerate(runs):
            assert loud == (index % 2 == 0), f"{path}: run {index} is {runs[index]}"
            want = on if loud else off
            assert near(seconds, want), f"{path}: run {index} lasts {seconds} s, want about {want} s"
    return check


def check_ring(path, runs):
    rings = [seconds for loud, seconds in runs if loud]
    assert len(rings) >= 2, f"{path}: want at least two rings, got {runs}"
    assert not runs[-1][0] and runs[-1][1] >= 2.0, f"{path}: want a pause of 2 s or more at the end"


def check_level(path, samples):
    peak = max(abs(s) for s in samples)
    assert 3000 < peak < 30000, f"{path}: peak {peak} is silent or clipping"


TONES = {
    "DialTones.wav": check_dial,
    "Ringback.wav": check_cadence(1.0, 4.0, 1),
    "RemoteBusy.wav": check_cadence(0.35, 0.35, 4),
    "Ringtone.wav": check_ring,
}


def main():
    folder = sys.argv[1]
    faults = 0
    for name, check in TONES.items():
        path = f"{folder}/{name}"
        try:
            samples = read(path)
            check_with_sox(path)
            check_level(path, samples)
            check_loop(path, samples)
            check(path, segments(samples))
            print(f"{name}: {len(samples) / RATE:.2f} s, {segments(samples)[:4]}")
        except (AssertionError, OSError, wave.Error, subprocess.CalledProcessError) as fault:
            print(f"FAULT {fault}")
            faults += 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
