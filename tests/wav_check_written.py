#!/usr/bin/env python3
"""Reads every file our writer left in the given folder with two outside
readers, Python's wave module and sox, and checks what they see: PCM, mono,
8000 Hz, 16 bits, the number of sample bytes given in the file name, and the
bytes themselves (byte i is i mod 251, as the writer suite wrote them)."""
import pathlib
import re
import subprocess
import sys
import wave


def check(path):
    expected = int(re.search(r"_(\d+)\.wav$", path.name).group(1))
    faults = []
    with wave.open(str(path), "rb") as w:
        params = (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getcomptype())
        if params != (1, 2, 8000, "NONE"):
            faults.append(f"wave module sees format {params}, expected (1, 2, 8000, 'NONE')")
        samples = w.readframes(w.getnframes() + 1)
    if samples != bytes(i % 251 for i in range(expected)):
        faults.append(f"wave module reads {len(samples)} sample bytes, expected {expected} counting bytes")
    info = subprocess.run(["sox", "--i", str(path)], capture_output=True, text=True)
    if info.returncode != 0:
        faults.append(f"sox --i refuses the file: {info.stderr.strip()}")
    else:
        for pattern in (r"Channels\s*:\s*1\b", r"Sample Rate\s*:\s*8000\b", r"Precision\s*:\s*16-bit",
                        r"16-bit Signed Integer PCM"):
            if not re.search(pattern, info.stdout):
                faults.append(f"sox --i output lacks /{pattern}/:\n{info.stdout}")
        count = subprocess.run(["sox", "--i", "-s", str(path)], capture_output=True, text=True).stdout.strip()
        if count != str(expected // 2):
            faults.append(f"sox counts {count} samples, expected {expected // 2}")
    return faults


def main(folder):
    files = sorted(pathlib.Path(folder).glob("*.wav"))
    if not files:
        print(f"no written files in {folder}: the writer suite must run first")
        return 1
    failed = 0
    for path in files:
        faults = check(path)
        print(f"{'FAIL' if faults else 'ok  '} {path.name}")
        for fault in faults:
            print(f"     {fault}")
        failed += bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
