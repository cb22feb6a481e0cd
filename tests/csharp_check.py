#!/usr/bin/env python3
"""The C# declarations of both plug-ins (include/*.cs): compiled as a library
with Debian's mono-mcs, every warning an error, and held against the export
contracts: each export declared once under its exact exported name, with
the calling convention the contract names, and for a __stdcall export as
many 32-bit arguments as the bytes it pops (a declaration with one too few
or too many corrupts the host's stack).

usage: csharp_check.py SOURCE_DIR SCRATCH_DIR
"""
import os
import re
import shutil
import subprocess
import sys

SOURCE, SCRATCH = sys.argv[1], sys.argv[2]
faults = []


def contract(name):
    """exported name -> (convention, bytes or None) from tools/contracts."""
    entries = {}
    for line in open(os.path.join(SOURCE, "tools", "contracts", name)):
        fields = line.split()
        if len(fields) >= 3 and fields[0] == "export":
            entries[fields[1]] = (fields[2], int(fields[3]) if len(fields) > 3 else None)
    return entries


def declarations(path):
    """exported name -> (convention, argument count) of every DllImport of
    the plug-in (Dll), in the file's order."""
    text = open(path, encoding="utf-8").read()
    found = {}
    for entry, convention, arguments in re.findall(
            r'\[DllImport\(Dll, EntryPoint = "([^"]+)", CallingConvention = CallingConvention\.(\w+)[^\]]*\)\]'
            r'\s*public static extern int \w+\(((?:[^()]|\([^()]*\))*)\);', text):
        if entry in found:
            faults.append(f"{os.path.basename(path)}: {entry} declared twice")
        count = 0 if not arguments.strip() else arguments.count(",") + 1
        found[entry] = (convention.lower(), count)
    return found


for cs, contract_file in (("bravik32.cs", "bravik32.txt"), ("marenta.cs", "marenta.txt")):
    declared = declarations(os.path.join(SOURCE, "include", cs))
    expected = contract(contract_file)
    for name in sorted(set(expected) - set(declared)):
        faults.append(f"{cs}: no declaration of the export {name}")
    for name in sorted(set(declared) - set(expected)):
        faults.append(f"{cs}: declares {name}, which the plug-in does not export")
    for name in sorted(set(declared) & set(expected)):
        convention, count = declared[name]
        wanted, pops = expected[name]
        if convention != wanted:
            faults.append(f"{cs}: {name} declared {convention}, the export is {wanted}")
        if pops is not None and 4 * count != pops:
            faults.append(f"{cs}: {name} declared with {count} argument(s), the export pops {pops} bytes")

mcs = shutil.which("mcs")
if not mcs:
    faults.append("mcs not found: install Debian's mono-mcs (./dev test does)")
else:
    os.makedirs(SCRATCH, exist_ok=True)
    built = subprocess.run([mcs, "-target:library", "-warnaserror+", "-warn:4", "-platform:x86",
                            f"-out:{os.path.join(SCRATCH, 'TelephonyPlugins.dll')}",
                            os.path.join(SOURCE, "include", "bravik32.cs"),
                            os.path.join(SOURCE, "include", "marenta.cs")], capture_output=True, text=True)
    if built.returncode:
        faults.append("mcs refused the declarations:\n" + built.stdout + built.stderr)

for text in faults:
    print("FAULT", text)
print(f"C# declarations: {len(faults)} faults")
sys.exit(1 if faults else 0)
