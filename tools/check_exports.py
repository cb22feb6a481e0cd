#!/usr/bin/env python3
"""Checks a 32-bit plug-in DLL against its export contract.

The host binds exports by name and, for __stdcall, trusts the callee to pop
exactly its arguments; a wrong name or a wrong `ret $N` corrupts the host's
stack. The contract file lists, one per line:
    export NAME stdcall BYTES     (the function pops BYTES: ret $BYTES, or ret for 0)
    export NAME cdecl             (plain ret)
    import DLLNAME                (an allowed imported DLL, case-insensitive)
Lines starting with # are comments. Every export must be listed, and every
listed export must exist; every imported DLL must be allowed.
"""
import re
import subprocess
import sys


def read_contract(path):
    exports, imports = {}, set()
    for raw in open(path, encoding="utf-8"):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        words = line.split()
        if words[0] == "export":
            pops = int(words[3]) if words[2] == "stdcall" else 0
            exports[words[1]] = (words[2], pops)
        elif words[0] == "import":
            imports.add(words[1].lower())
        else:
            sys.exit(f"{path}: cannot read line: {line}")
    return exports, imports


def private_headers(objdump, dll):
    return subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout


def image_base(headers):
    return int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)


def exported_names(headers):
    """name -> RVA, from the [Ordinal/Name Pointer] Table and the address table."""
    rvas = {}
    section = headers.split("Export Address Table --", 1)
    if len(section) < 2:
        return {}
    table, rest = section[1].split("[Ordinal/Name Pointer] Table", 1)
    by_index = {}
    for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+\+base\[\s*\d+\]\s+([0-9a-fA-F]+)", table, re.M):
        by_index[int(m.group(1))] = int(m.group(2), 16)
    for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+(\S+)\s*$", rest, re.M):
        index = int(m.group(1))
        rvas[m.group(2)] = by_index.get(index)
        if not rest[m.end():].lstrip().startswith("["):
            break
    return rvas


def imported_dlls(headers):
    return {m.group(1).lower() for m in re.finditer(r"^\s*DLL Name: (\S+)", headers, re.M)}


def function_bodies(objdump, dll):
    """start address -> list of instruction texts, split at symbol labels."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True,
                          capture_output=True, text=True).stdout
    bodies, current = {}, None
    for line in text.splitlines():
        label = re.match(r"^([0-9a-f]+) <.*>:$", line)
        if label:
            current = bodies.setdefault(int(label.group(1), 16), [])
            continue
        insn = re.match(r"^\s*[0-9a-f]+:\s+(.*)$", line)
        if insn and current is not None:
            current.append(insn.group(1).strip())
    return bodies


def returns_of(body):
    pops = set()
    for insn in body:
        m = re.match(r"^ret[lw]?\s*(?:\$0x([0-9a-f]+))?", insn)
        if m:
            pops.add(int(m.group(1), 16) if m.group(1) else 0)
    return pops


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check_exports.py OBJDUMP DLL CONTRACT")
    objdump, dll, contract = sys.argv[1:]
    expected, allowed_imports = read_contract(contract)
    headers = private_headers(objdump, dll)
    base = image_base(headers)
    actual = exported_names(headers)
    bodies = function_bodies(objdump, dll)
    faults = []
    for name in sorted(set(actual) - set(expected)):
        faults.append(f"exported but not in the contract: {name}")
    for name in sorted(set(expected) - set(actual)):
        faults.append(f"missing export: {name}")
    for name, (convention, pops) in sorted(expected.items()):
        if name not in actual:
            continue
        body = bodies.get(base + actual[name])
        if body is None:
            faults.append(f"{name}: no code found at its address")
            continue
        found = returns_of(body)
        if found != {pops}:
            shown = ", ".join(f"ret ${p}" if p else "ret" for p in sorted(found)) or "no ret"
            want = f"ret ${pops}" if pops else "ret"
            faults.append(f"{name}: {convention} wants {want}, the code has {shown}")
    for dll_name in sorted(imported_dlls(headers) - allowed_imports):
        faults.append(f"imports a DLL outside the contract: {dll_name}")
    for fault in faults:
        print("FAULT", fault)
    print(f"{dll}: {len(actual)} exports, {len(expected)} in the contract, "
          f"imports {', '.join(sorted(imported_dlls(headers)))}")
    print("export contract kept" if not faults else f"{len(faults)} breaches of the export contract")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
