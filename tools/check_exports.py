#!/usr/bin/env python3
"""Checks a shipped 32-bit binary against its contract.

The host binds exports by name and, for __stdcall, trusts the callee to pop
exactly its arguments; a wrong name or a wrong `ret $N` corrupts the host's
stack. The contract file lists, one per line:
    export NAME stdcall BYTES     (the function pops BYTES: ret $BYTES, or ret for 0)
    export NAME cdecl             (plain ret)
    import DLLNAME                (an allowed system DLL, case-insensitive)
    import DLLNAME vendor         (an allowed DLL that is not part of Windows)
Lines starting with # are comments. Every export must be listed, and every
listed export must exist; every imported DLL must be allowed.

With a Windows list (tools/contracts/windows7.txt: "DLLNAME FUNCTION" a line)
every function imported from a system DLL must be on it: the loader refuses a
binary that imports one function the PC's Windows lacks, so the oldest
Windows supported is the one whose exports the list holds.
"""
import re
import subprocess
import sys


def read_contract(path):
    exports, imports, vendor = {}, set(), set()
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
            if words[2:] == ["vendor"]:
                vendor.add(words[1].lower())
        else:
            sys.exit(f"{path}: cannot read line: {line}")
    return exports, imports, vendor


def read_windows_list(path):
    allowed = set()
    for raw in open(path, encoding="utf-8"):
        line = raw.split("#", 1)[0].split()
        if len(line) == 2:
            allowed.add((line[0].lower(), line[1]))
        elif line:
            sys.exit(f"{path}: cannot read line: {raw.strip()}")
    return allowed


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


def imported_functions(headers):
    """(dll, function) pairs of the import tables, plus (dll, "") for every
    DLL; a function bound by ordinal has no name and shows as #ORDINAL."""
    pairs, dll = set(), None
    for line in headers.splitlines():
        m = re.match(r"^\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            pairs.add((dll, ""))
            continue
        if line.startswith("The Export Tables"):
            dll = None
        m = re.match(r"^\t[0-9a-f]+\t\s*(\d+)(?:\s+(\S+))?\s*$", line)
        if m and dll:
            pairs.add((dll, m.group(2) or f"#{m.group(1)}"))
    return pairs


def imported_dlls(headers):
    return {dll for dll, _ in imported_functions(headers)}


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


def import_faults(headers, allowed_imports, vendor, windows_list):
    faults = [f"imports a DLL outside the contract: {name}"
              for name in sorted(imported_dlls(headers) - allowed_imports)]
    if windows_list is not None:
        for dll_name, function in sorted(imported_functions(headers)):
            if function and dll_name not in vendor and (dll_name, function) not in windows_list:
                faults.append(f"imports {dll_name} {function}, not on the list of what Windows 7 has")
    return faults


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit("usage: check_exports.py OBJDUMP BINARY CONTRACT [WINDOWS_LIST]")
    objdump, dll, contract = sys.argv[1:4]
    windows_list = read_windows_list(sys.argv[4]) if len(sys.argv) == 5 else None
    expected, allowed_imports, vendor = read_contract(contract)
    headers = private_headers(objdump, dll)
    base = image_base(headers)
    actual = exported_names(headers)
    # A stripped binary (the release's) has no labels to find each export's
    # code by; its build output, which has them, is checked by the build.
    stripped = "symbols stripped" in headers
    bodies = function_bodies(objdump, dll) if expected and not stripped else {}
    faults = []
    for name in sorted(set(actual) - set(expected)):
        faults.append(f"exported but not in the contract: {name}")
    for name in sorted(set(expected) - set(actual)):
        faults.append(f"missing export: {name}")
    for name, (convention, pops) in sorted(expected.items()):
        if name not in actual or stripped:
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
    faults += import_faults(headers, allowed_imports, vendor, windows_list)
    for fault in faults:
        print("FAULT", fault)
    print(f"{dll}: {len(actual)} exports, {len(expected)} in the contract, "
          f"imports {', '.join(sorted(imported_dlls(headers)))}"
          + (" (stripped: names and imports checked, not the code)" if stripped and expected else ""))
    print("export contract kept" if not faults else f"{len(faults)} breaches of the export contract")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
