#!/usr/bin/env python3
"""Lays out the installable package from a 32-bit build and checks it: every
file a deployment needs is there, and both plug-ins keep their export
contracts as installed."""
import os
import subprocess
import sys
import tempfile

build, source, objdump = sys.argv[1:4]
prefix = tempfile.mkdtemp(prefix="tvpackage_")
subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
               stdout=subprocess.DEVNULL)

expected = ["handset/BRAVIK32.dll", "sip/BRAVIK32.dll", "include/bravik32.h", "include/marenta.h",
            "tvconsole.exe", "DEPLOY-handset.txt", "DEPLOY-sip.txt"]
expected += [f"sip/res/{tone}" for tone in
             ("DialTones.wav", "Ringback.wav", "Ringtone.wav", "RemoteBusy.wav")]
faults = [f"missing from the package: {path}" for path in expected
          if not os.path.isfile(os.path.join(prefix, path))]
if os.path.exists(os.path.join(prefix, "sip", "KIRO.dll")):
    faults.append("the simulated KIRO.dll must not be shipped")

checker = os.path.join(source, "tools", "check_exports.py")
for dll, contract in (("handset/BRAVIK32.dll", "bravik32.txt"), ("sip/BRAVIK32.dll", "marenta.txt")):
    path = os.path.join(prefix, dll)
    if os.path.isfile(path):
        done = subprocess.run([sys.executable, checker, objdump, path,
                               os.path.join(source, "tools", "contracts", contract)])
        if done.returncode:
            faults.append(f"{dll} breaks its export contract")
for fault in faults:
    print("FAULT", fault)
print(f"package: {len(expected) - len(faults)} passed, {len(faults)} failed")
sys.exit(1 if faults else 0)
