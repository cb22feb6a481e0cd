#!/usr/bin/env python3
"""Makes the release from a 32-bit build into a scratch folder and checks what
a deployer gets: the zip holds exactly the package's files under one folder
named by the version, SHA256SUMS matches them, the texts read on Windows have
CR LF line ends, the change log's newest entry is this version, the binaries
are stripped and linked to debug files that match, every binary carries the
version in its resource and says Windows 7 (6.1) in its header, and each
keeps its export contract, imports included.

usage: check_package.py --source DIR --objdump OBJDUMP --version X.Y.Z
                        --name NAME -- DIST_COMMAND...
The dist command is tools/dist/dist.cmake's cmake -P line without OUT_DIR.
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

faults = []


def fault(text):
    faults.append(text)


def expected_files(source):
    files = {"handset/BRAVIK32.dll", "sip/BRAVIK32.dll", "include/bravik32.h", "include/marenta.h",
             "tvconsole.exe", "CHANGELOG.txt", "NOTICE.txt", "SHA256SUMS"}
    files |= {f"sip/res/{tone}" for tone in
              ("DialTones.wav", "Ringback.wav", "Ringtone.wav", "RemoteBusy.wav")}
    files |= {name for name in os.listdir(os.path.join(source, "docs")) if name.endswith(".txt")}
    samples = os.path.join(source, "tools", "console", "samples")
    files |= {f"samples/{name}" for name in os.listdir(samples) if name.endswith(".tvs")}
    return files


def read_zip(zip_path, name):
    """relative path -> bytes, for the entries under NAME/."""
    contents = {}
    with zipfile.ZipFile(zip_path) as archive:
        for entry in archive.infolist():
            if entry.is_dir():
                continue
            if not entry.filename.startswith(name + "/"):
                fault(f"zip entry outside the folder {name}/: {entry.filename}")
                continue
            contents[entry.filename[len(name) + 1:]] = archive.read(entry)
    return contents


def check_sums(contents):
    listed = {}
    for line in contents.get("SHA256SUMS", b"").decode("ascii").splitlines():
        digest, path = line.split("  ", 1)
        listed[path] = digest
    for path, data in contents.items():
        if path == "SHA256SUMS":
            continue
        if path not in listed:
            fault(f"SHA256SUMS does not list {path}")
        elif listed[path] != hashlib.sha256(data).hexdigest():
            fault(f"SHA256SUMS: wrong checksum for {path}")
    for path in sorted(set(listed) - set(contents)):
        fault(f"SHA256SUMS lists {path}, which is not in the package")


def check_texts(contents, version):
    for path, data in contents.items():
        if not path.endswith((".txt", ".tvs")):
            continue
        if data.replace(b"\r\n", b"").count(b"\n"):
            fault(f"{path}: line ends other than CR LF (Notepad of Windows 7 shows one long line)")
        if not data.isascii() and not data.startswith(b"\xef\xbb\xbf"):
            fault(f"{path}: UTF-8 without a byte-order mark (Notepad would read it as ANSI)")
    changelog = contents.get("CHANGELOG.txt", b"").decode("utf-8", "replace")
    newest = re.search(r"^(\d+\.\d+\.\d+)\b", changelog, re.M)
    if not newest or newest.group(1) != version:
        fault(f"CHANGELOG.txt: newest entry {newest and newest.group(1)}, the build is {version}")
    notice = contents.get("NOTICE.txt", b"").decode("utf-8", "replace")
    for part in ("mingw-w64", "winpthreads", "GCC RUNTIME LIBRARY EXCEPTION", "libstdc++"):
        if part not in notice:
            fault(f"NOTICE.txt does not name {part}")


def sections(objdump, path):
    text = subprocess.run([objdump, "-h", path], check=True, capture_output=True, text=True).stdout
    return set(re.findall(r"^\s*\d+\s+(\S+)", text, re.M))


def debuglink(data):
    """(file name, CRC) from the .gnu_debuglink section of a PE image, or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    for index in range(count):
        header = table + 40 * index
        raw_name = data[header:header + 8].rstrip(b"\0")
        if raw_name.startswith(b"/"):   # long name: offset into the string table
            strings = struct.unpack_from("<I", data, pe + 12)[0] + 18 * struct.unpack_from("<I", data, pe + 16)[0]
            offset = strings + int(raw_name[1:])
            raw_name = data[offset:data.index(b"\0", offset)]
        if raw_name == b".gnu_debuglink":
            size, start = struct.unpack_from("<I", data, header + 16)[0], struct.unpack_from("<I", data, header + 20)[0]
            body = data[start:start + size]
            file_name = body[:body.index(b"\0")]
            crc_at = (len(file_name) + 4) & ~3
            return file_name.decode(), struct.unpack_from("<I", body, crc_at)[0]
    return None


def version_strings(data):
    """The fixed file version and the StringFileInfo values of the version
    resource, read by walking the PE resource tree to RT_VERSION (16)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    rva = struct.unpack_from("<I", data, directories + 8 * 2)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]
    to_offset = None
    for index in range(count):
        vsize, vaddr, _, raw = struct.unpack_from("<IIII", data, table + 40 * index + 8)
        if vaddr <= rva < vaddr + vsize:
            to_offset = lambda r, vaddr=vaddr, raw=raw: r - vaddr + raw
    if not rva or to_offset is None:
        return None, {}
    root = to_offset(rva)

    def first_entry(directory, wanted=None):
        named, numbered = struct.unpack_from("<HH", data, directory + 12)
        for index in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, directory + 16 + 8 * index)
            if wanted is None or ident == wanted:
                return target
        return None

    node = first_entry(root, 16)
    for _ in range(2):
        if node is None or not node & 0x80000000:
            return None, {}
        node = first_entry(root + (node & 0x7FFFFFFF))
    data_rva, size = struct.unpack_from("<II", data, root + node)
    blob = data[to_offset(data_rva):to_offset(data_rva) + size]

    found = {"fixed": None}

    def walk(at, end, strings):
        # Every node: length, value length, type (1 text, 0 binary), a
        # UTF-16 key, the value on a 4-byte boundary, then its children.
        while at + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", blob, at)
            if length == 0:
                break
            key_end = at + 6
            while blob[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = blob[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            value_bytes = 2 * value_length if kind == 1 else value_length
            if key == "VS_VERSION_INFO" and value_length >= 16:
                signature, _, ms, ls = struct.unpack_from("<IIII", blob, value_at)
                if signature == 0xFEEF04BD:
                    found["fixed"] = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
            elif kind == 1 and value_length:
                strings[key] = blob[value_at:value_at + value_bytes].decode("utf-16-le").rstrip("\0")
            walk((value_at + value_bytes + 3) & ~3, at + length, strings)
            at = (at + length + 3) & ~3

    strings = {}
    walk(0, len(blob), strings)
    return found["fixed"], strings


def check_binaries(contents, symbols, objdump, version, source, scratch):
    descriptions = {}
    contracts = {"handset/BRAVIK32.dll": "bravik32.txt", "sip/BRAVIK32.dll": "marenta.txt",
                 "tvconsole.exe": "tvconsole.txt"}
    for path, contract in contracts.items():
        if path not in contents:
            continue
        data = contents[path]
        unpacked = os.path.join(scratch, path.replace("/", "_"))
        with open(unpacked, "wb") as out:
            out.write(data)
        present = sections(objdump, unpacked)
        if any(name.startswith(".debug_") for name in present):
            fault(f"{path} is not stripped: it still carries debug sections")
        link = debuglink(data)
        debug_file = os.path.join(symbols, path + ".debug")
        if not link:
            fault(f"{path}: no .gnu_debuglink to its debug file")
        elif link[0] != os.path.basename(debug_file) or not os.path.isfile(debug_file):
            fault(f"{path}: links to {link[0]}, the symbols folder has no such file beside its path")
        else:
            if zlib.crc32(open(debug_file, "rb").read()) != link[1]:
                fault(f"{path}: the CRC in its debug link does not match {debug_file}")
            if ".debug_info" not in sections(objdump, debug_file):
                fault(f"{debug_file} holds no debug information")
        fixed, strings = version_strings(data)
        if fixed != f"{version}.0":
            fault(f"{path}: file version {fixed} in its resource, the build is {version}")
        for key in ("FileVersion", "ProductVersion"):
            if strings.get(key) != version:
                fault(f"{path}: {key} {strings.get(key)!r}, the build is {version}")
        for key in ("ProductName", "LegalCopyright", "FileDescription", "OriginalFilename"):
            if not strings.get(key):
                fault(f"{path}: no {key} in its version resource")
        if strings.get("OriginalFilename") != os.path.basename(path):
            fault(f"{path}: OriginalFilename {strings.get('OriginalFilename')!r}")
        descriptions[path] = strings.get("FileDescription")
        headers = subprocess.run([objdump, "-p", unpacked], check=True, capture_output=True, text=True).stdout
        for field in ("MajorOSystemVersion", "MajorSubsystemVersion", "MinorOSystemVersion", "MinorSubsystemVersion"):
            wanted = "6" if field.startswith("Major") else "1"
            found = re.search(rf"^{field}\s+(\S+)", headers, re.M)
            if not found or found.group(1) != wanted:
                fault(f"{path}: {field} {found and found.group(1)}, Windows 7 is 6.1")
        checker = os.path.join(source, "tools", "check_exports.py")
        contracts_dir = os.path.join(source, "tools", "contracts")
        if subprocess.run([sys.executable, checker, objdump, unpacked, os.path.join(contracts_dir, contract),
                           os.path.join(contracts_dir, "windows7.txt")]).returncode:
            fault(f"{path} breaks its contract")
    if descriptions.get("handset/BRAVIK32.dll") == descriptions.get("sip/BRAVIK32.dll"):
        fault("the two BRAVIK32.dll carry the same FileDescription: a deployer cannot tell them apart")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--objdump", "--version", "--name"):
        parser.add_argument(option, required=True)
    parser.add_argument("dist", nargs="+")
    args = parser.parse_args()
    out = tempfile.mkdtemp(prefix="tvrelease_")
    command = [args.dist[0], f"-DOUT_DIR={out}"] + args.dist[1:]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    zip_path = os.path.join(out, args.name + ".zip")
    contents = read_zip(zip_path, args.name)
    expected = expected_files(args.source)
    for path in sorted(expected - set(contents)):
        fault(f"missing from the zip: {path}")
    for path in sorted(set(contents) - expected):
        fault(f"in the zip but not part of the package: {path}")
    check_sums(contents)
    check_texts(contents, args.version)
    check_binaries(contents, os.path.join(out, args.name + "-symbols"), args.objdump, args.version,
                   args.source, out)
    zip_sum = open(zip_path + ".sha256").read().split()[0]
    if zip_sum != hashlib.sha256(open(zip_path, "rb").read()).hexdigest():
        fault(f"{args.name}.zip.sha256 does not match the zip")
    for text in faults:
        print("FAULT", text)
    print(f"release {args.name}.zip: {len(contents)} files, {len(faults)} faults")
    if faults:
        print(f"(the release is left in {out})")
        return 1
    shutil.rmtree(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
