#!/usr/bin/env python3
"""Makes the release from a 32-bit build into a scratch folder and checks what
a deployer gets: the zip holds exactly the package's files under one folder
named by the version, SHA256SUMS matches them, the texts read on Windows have
CR LF line ends, the change log's newest entry is this version, the binaries
are stripped and linked to debug files that match, every binary carries the
version in its resource and says Windows 7 (6.1) in its header, and each
keeps its export contract, imports included. The documents: each table of
contents matches its section titles, no sentence once found false comes
back (README.md of the source tree too), and the claims a test can read
from the sources hold (the log lines' Windows-1252 forms, the SIP log's texts
and state names, the KIRO functions, the SIP library's ports).

Code signing: unsigned is the default, and no binary may carry a signature
then. With --sign-throwaway the check makes a certificate of its own
(openssl), has the release signed with it (TV_SIGN_PFX, dist.cmake) and
verifies every binary's signature against it (osslsigncode).

usage: check_package.py --source DIR --objdump OBJDUMP --version X.Y.Z
                        --name NAME [--sign-throwaway] -- DIST_COMMAND...
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
             "include/bravik32.cs", "include/marenta.cs", "samples/sample_host.c", "samples/sample_host.exe",
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
    # An entry marked "(unreleased)" collects the next release's changes on
    # top of the one this build is.
    newest = re.search(r"^(\d+\.\d+\.\d+)\b(?! \(unreleased\))", changelog, re.M)
    if not newest or newest.group(1) != version:
        fault(f"CHANGELOG.txt: newest released entry {newest and newest.group(1)}, the build is {version}")
    notice = contents.get("NOTICE.txt", b"").decode("utf-8", "replace")
    for part in ("mingw-w64", "winpthreads", "GCC RUNTIME LIBRARY EXCEPTION", "libstdc++"):
        if part not in notice:
            fault(f"NOTICE.txt does not name {part}")


# Sentences that were found false in a release (the plug-ins do otherwise),
# so that they do not come back. Matched across line breaks.
WRONG_SENTENCES = [
    ("DEPLOY-handset.txt", r"plays and records through the wave device whose name is exactly",
     "only the exact name is matched (the endpoint names count too)"),
    ("DEPLOY-handset.txt", r"When no wave device has that exact name, the plug-in uses the system's default",
     "only the exact name is matched"),
    ("DEPLOY-sip.txt", r"TV_MakeCall, TV_HangUpCall and TV_OffHook block",
     "TV_MakeCall blocks until the events show the outcome (it returns at once)"),
    ("DEPLOY-sip.txt", r"one entry for each timeout and refusal", "every refusal is logged"),
    ("DEPLOY-sip.txt", r"refusals and timeouts one each", "every refusal is logged"),
    ("DEPLOY-sip.txt", r"\w+\.cpp:\d+:", "a source line number, which changes with every release"),
    ("DEPLOY-sip.txt", r"Entries before the first TV_Initialize of a run are not written \(",
     "silent on the first TV_Initialize's own entry"),
    ("DEPLOY-sip.txt", r"neither the first TV_Initialize of a run nor any entry before it is written",
     "the first TV_Initialize of a run is logged"),
    ("DEPLOY-sip.txt", r"Other refusals \(-2, -3\) and failed starts of the library \(-1\) of the exports write no",
     "every refused or failed export writes an entry"),
    ("DEPLOY-sip.txt", r"for each refused TV_HangUpCall and for a few calls",
     "every refused or failed export, every TV_Initialize and every declined call writes an entry"),
    ("DEPLOY-sip.txt", r"each refused TV_HangUpCall and each wait that ran out one more",
     "every refused or failed export and every declined call writes an entry"),
    ("DEPLOY-sip.txt", r"vendor's release for this plug-in", "a KIRO.dll release the document never names"),
    ("DEPLOY-sip.txt", r"ports from 10000 on; a firewall must", "no protocol and no upper bound"),
    ("CONSOLE.txt", r"Start it in the folder where the plug-in is to write its log",
     "the handset plug-in's log goes beside tvconsole.exe wherever it is started"),
    ("CONSOLE.txt", r"Ctrl\+C ends it after the command that is running", "Ctrl+C cuts a wait short at once"),
    ("include/bravik32.h", r"A start that fails may leave its job", "a failed start leaves no job"),
    ("include/marenta.h", r"Ends the current call, ringing, alerting or connected; refused otherwise",
     "a call being placed is ended too"),
    ("include/marenta.h", r"TV_MakeCall during an unregistration returns -1",
     "TV_MakeCall's wait is met as it starts: it does not time out"),
    ("include/marenta.h", r"TV_UnInitialize, TV_MakeCall, TV_HangUpCall and TV_OffHook wait",
     "TV_MakeCall returns once the library took the request"),
    ("include/marenta.h", r"0 once the far end is alerting", "TV_MakeCall returns once the library took the request"),
    ("README.md", r"Its exports block until the library's events show the outcome",
     "TV_MakeCall, TV_PickUp, TV_Installed and the file exports return at once"),
    ("README.md", r"and the refusal or timeout text",
     "failures, declined calls and every TV_Initialize are logged too"),
]

# The SIP log's texts as DEPLOY-sip.txt section 5 lists them, with the source
# file that writes each and the string literals it is made of (N, RESULT and
# STATE stand for what the plug-in fills in), so that the table and the code
# keep the same texts.
SIP_LOG_TEXTS = {
    "successfully.": ("UA_KIRO.cpp", ['"successfully."']),
    "failed, server timeout.": ("UA_KIRO.cpp", ['"failed, server timeout."']),
    "register failed, server timeout.": ("UA_KIRO.cpp", ['"register failed, server timeout."']),
    "failed, error code: N": ("UA_KIRO.cpp", ['"failed, error code: "']),
    "failed (RESULT), error code: N.": ("UA_KIRO.cpp", ['"failed ("', '"), "', '"error code: "', '"."']),
    "failed (RESULT), bad argument.": ("UA_KIRO.cpp", ['"failed ("', '"), "', '"bad argument"', '"."']),
    "failed (RESULT), wrong state: STATE.": ("UA_KIRO.cpp", ['"failed ("', '"), "', '"wrong state: "', '"."']),
    "declined call N, the agent has a call.":
        ("AgentEvents.cpp", ['"declined call "', '", "', '"the agent has a call"', '"."']),
    "declined call N, placed while another call came.":
        ("SipAgent.cpp", ['"placed while another call came"']),
    "Picked up.": ("UA_KIRO.cpp", ['"Picked up."']),
    "Just called(DUMMY USE).": ("UA_KIRO.cpp", ['"Just called(DUMMY USE)."']),
    "(nothing after the header)": ("UA_KIRO.cpp", []),
}


def document(data):
    """A packaged text as Python reads it: no byte-order mark, LF line ends."""
    return data.decode("utf-8-sig").replace("\r\n", "\n")


def words(data):
    """A document's text with every run of white space (and a C comment's
    leading star) as one blank, so that a sentence matches across lines."""
    return re.sub(r"\s+(\* )?", " ", document(data))


def table_of_contents(text):
    """(contents entries, section titles): the numbered lines indented under
    the title, and the numbered titles at the start of a line."""
    lines = text.replace("\r\n", "\n").split("\n")
    contents = []
    for line in lines[1:]:
        entry = re.match(r"^  (\d+)\. (\S.*)$", line)
        if entry:
            contents.append((entry.group(1), entry.group(2)))
        elif contents or line.strip():
            break
    titles = [(m.group(1), m.group(2)) for m in (re.match(r"^(\d+)\. (\S.*)$", line) for line in lines) if m]
    return contents, titles


def check_sip_log_texts(text, source):
    """DEPLOY-sip.txt section 5 against the sources: each text of its table
    is one the plug-in writes, the state names are StateName's, and the
    declined call's entry is named after the function that writes it."""
    section = text.split("\n5. ", 1)[-1].split("\n6. ", 1)[0]
    table = section.split("The texts, all English:\n", 1)[-1].split("\n  Every entry", 1)[0]
    listed = [re.split(r"\s{2,}", line[4:])[0] for line in table.split("\n") if re.match(r"^    \S", line)]
    if sorted(listed) != sorted(SIP_LOG_TEXTS):
        fault(f"DEPLOY-sip.txt lists the log texts {listed}, the check knows {sorted(SIP_LOG_TEXTS)}")
    sipagent = os.path.join(source, "sipagent")
    for entry, (name, literals) in SIP_LOG_TEXTS.items():
        code = open(os.path.join(sipagent, name)).read()
        for literal in literals:
            if literal not in code:
                fault(f"DEPLOY-sip.txt: the log text {entry!r} needs {literal} in sipagent/{name}")
    exports = open(os.path.join(sipagent, "UA_KIRO.cpp")).read()
    states = re.findall(r'case STATE_\w+: return "(\w+)";', exports)
    # The names as a list, each maybe followed by a remark in brackets.
    named = re.sub(r" ?\([^)]*\)", "", words(section.encode()).split("STATE is one of ", 1)[-1])
    shown = re.match(r"\w+(?:, \w+)*", named).group(0).split(", ")
    if not states or shown != states:
        fault(f"DEPLOY-sip.txt names the states {shown}, the log writes {states}")
    events = open(os.path.join(sipagent, "AgentEvents.cpp")).read()
    if "AgentEvents.cpp:NN:Decline: declined call" not in section or not re.search(
            r"void CSipAgent::Decline\([^)]*\) \{[^}]*AGENT_LOG_ENTRY\(\)", events):
        fault("DEPLOY-sip.txt: a declined call's entry is not AgentEvents.cpp's Decline")


# The handset's log lines that DEPLOY-handset.txt section 7 explains (the
# English ones, and Chinese ones written with arguments), each with the
# format the plug-in writes it with.
HANDSET_LOG_LINES = {
    "Unload: the WHAT lock was not free within N ms; its step is skipped":
        "Unload: the %s lock was not free within %lu ms; its step is skipped",
    "Thread ended by force where it stood: no safe point within N ms":
        "Thread ended by force where it stood: no safe point within %lu ms",
    "Thread start page: not executable (error N); the thread starts in the plug-in":
        "Thread start page: not executable (error %lu); the thread starts in the plug-in",
    "Thread start page: no memory (error N); the thread starts in the plug-in":
        "Thread start page: no memory (error %lu); the thread starts in the plug-in",
    "录音写入失败,文件存下N字节,录音已停止:FILE": "录音写入失败,文件存下%d字节,录音已停止:%s",
    "录音文件收尾失败:FILE": "录音文件收尾失败:%s",
}


def check_handset_log_lines(text, source):
    """Each English line of DEPLOY-handset.txt section 7 that this table
    knows is there, and the handset plug-in writes it."""
    section = text.split("\n7. ", 1)[-1].split("\n8. ", 1)[0]
    code = ""
    for folder, _, names in os.walk(os.path.join(source, "handset")):
        code += "".join(open(os.path.join(folder, n), encoding="utf-8").read()
                        for n in names if n.endswith(".cpp"))
    code = re.sub(r'"\s*\n\s*"', "", code)  # literals split over lines
    for shown, written in HANDSET_LOG_LINES.items():
        if "\n  " + shown + "\n" not in section:
            fault(f"DEPLOY-handset.txt section 7 does not explain {shown!r}")
        if '"' + written + '"' not in code:
            fault(f"DEPLOY-handset.txt: the log line {shown!r} is not written by handset/ as {written!r}")


def check_wine_wave_names(text, source):
    """The Wine wave device names that DEPLOY-handset.txt section 3 quotes
    are rows of the name-matching suite, cut to 31 characters, with the
    outcome the document gives them (taken by the endpoint form, or not)."""
    suite = open(os.path.join(source, "tests", "audio_search_test.cpp"), encoding="utf-8").read()
    rows = dict(re.findall(r'\{"\w+", "((?:Out|In): [^"]*)", EWaveNameMatch::(\w+)\}', suite))
    section = text.split("3. The handset's audio device")[-1].split("4. Checking an installation")[0]
    quoted = 0
    for match in re.finditer(r'"((?:Out|In): [^"]*C-Media[^"]*)"(, which the plug-in does not take)?', section):
        name, wanted = match.group(1), "None" if match.group(2) else "Endpoint"
        quoted += 1
        if len(name) != 31:
            fault(f"DEPLOY-handset.txt: {name!r} is not a name Wine cut to 31 characters")
        elif rows.get(name) != wanted:
            fault(f"DEPLOY-handset.txt: {name!r} is no row of tests/audio_search_test.cpp matching {wanted}")
    if quoted < 3:
        fault(f"DEPLOY-handset.txt: {quoted} Wine device names in section 3, 3 expected")


def check_documents(contents, source):
    for name, pattern, why in WRONG_SENTENCES:
        if name not in contents and os.path.isfile(os.path.join(source, name)):
            # Texts of the source tree that are not shipped (README.md).
            if re.search(pattern, words(open(os.path.join(source, name), "rb").read())):
                fault(f"{name}: says again what was found false ({why}): /{pattern}/")
        elif name not in contents:
            fault(f"{name}: not in the package, cannot check it")
        elif re.search(pattern, words(contents[name])):
            fault(f"{name}: says again what was found false ({why}): /{pattern}/")
    # The licences quote texts with numbering of their own.
    for name in sorted(path for path in contents if path.endswith(".txt") and path != "NOTICE.txt"):
        toc, titles = table_of_contents(contents[name].decode("utf-8-sig"))
        if toc != titles:
            fault(f"{name}: table of contents {toc} does not match the section titles {titles}")
        if toc and [number for number, _ in toc] != [str(n) for n in range(1, len(toc) + 1)]:
            fault(f"{name}: sections not numbered 1 to {len(toc)}: {toc}")
    # Each Chinese log line of the glossary (section 7), then as Notepad shows
    # it on a Windows whose code page is 1252.
    handset = document(contents.get("DEPLOY-handset.txt", b""))
    glossary = handset.split("\n7. ", 1)[-1].split("\n8. ", 1)[0].split("\n")
    shown = 0
    for before, line in zip(glossary, glossary[1:] + [""]):
        if not re.match(r"^  [^ ].*[\u4e00-\u9fff]", before) or before.startswith("  1252: "):
            continue
        shown += 1
        if not line.startswith("  1252: "):
            fault(f"DEPLOY-handset.txt: {before.strip()!r} has no Windows-1252 form below it")
        elif line[8:] != before[2:].encode("gbk").decode("cp1252"):
            fault(f"DEPLOY-handset.txt: {line.strip()!r} is not how Windows-1252 shows {before.strip()!r}")
    if shown < 15:
        fault(f"DEPLOY-handset.txt: {shown} Chinese log lines in the glossary, 15 expected")
    # The snippet that reads the release at run time is the sample host's
    # code, which the tests compile and run, word for word.
    sample = [line.strip() for line in contents.get("samples/sample_host.c", b"").decode().splitlines()]
    for name, marker, prefix in (("include/bravik32.h", "THE RELEASE AT RUN TIME", " *     "),
                                 ("README.txt", "hPlugin is the handle LoadLibraryA gave:", "    ")):
        text = document(contents.get(name, b"")).split(marker, 1)[-1]
        code = []
        for line in text.split("\n")[1:]:
            if line.startswith(prefix):
                code.append(line[len(prefix):].strip())
            elif code:
                break
        if not code or not any(sample[i:i + len(code)] == code for i in range(len(sample))):
            fault(f"{name}: the version snippet is not samples/sample_host.c's code: {code[:2]}")
    # The KIRO.dll the SIP plug-in needs, and the ports the firewall must open.
    check_sip_log_texts(document(contents.get("DEPLOY-sip.txt", b"")), source)
    check_handset_log_lines(handset, source)
    check_wine_wave_names(words(contents.get("DEPLOY-handset.txt", b"")), source)
    sip = words(contents.get("DEPLOY-sip.txt", b""))
    imported = [line.strip() for line in open(os.path.join(source, "sipagent", "KIRO.def"))
                if line.strip().startswith("KIRO_")]
    named = re.findall(r"KIRO_\w+", sip.split("The KIRO.dll it needs", 1)[-1].split("stops the load", 1)[0])
    if sorted(named) != sorted(imported):
        fault(f"DEPLOY-sip.txt names the KIRO functions {named}, the plug-in imports {imported}")
    agent = open(os.path.join(source, "sipagent", "SipAgent.cpp")).read()
    ports = {name: int(value) for name, value in re.findall(r"const int (D_n\w+) = (\d+);", agent)}
    sip_port, media, calls = ports.get("D_nSipPort"), ports.get("D_nMediaPort"), ports.get("D_nMaxCalls")
    for claim in (f"UDP {sip_port}", f"UDP {media} to {media + 2 * calls - 1}" if media and calls else "?",
                  f"at most {calls} calls"):
        if claim not in sip:
            fault(f"DEPLOY-sip.txt does not say {claim!r}, which the plug-in's start of the library implies")


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


SIGNING = ("TV_SIGN_PFX", "TV_SIGN_CERT", "TV_SIGN_KEY", "TV_SIGN_PASSWORD_FILE", "TV_SIGN_TIMESTAMP")


def throwaway_certificate(folder):
    """A self-signed code-signing certificate in a password-protected PKCS#12
    file; the environment for dist.cmake, and the certificate to verify with."""
    key, cert, pfx, password = (os.path.join(folder, name) for name in ("key.pem", "cert.pem", "cert.pfx", "pass"))
    with open(password, "w") as out:
        out.write("throwaway\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=tvplugins throwaway test certificate",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", f"file:{password}"], check=True, capture_output=True)
    return {"TV_SIGN_PFX": pfx, "TV_SIGN_PASSWORD_FILE": password}, cert


def security_directory_size(data):
    """The size of the PE's certificate table (data directory 4): 0 unsigned."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    return struct.unpack_from("<I", data, directories + 8 * 4 + 4)[0]


def check_signatures(contents, scratch, certificate):
    for path in sorted(p for p in contents if p.endswith((".dll", ".exe"))):
        signed = security_directory_size(contents[path]) != 0
        if certificate is None:
            if signed:
                fault(f"{path} carries a signature, but no certificate was given (unsigned is the default)")
            continue
        if not signed:
            fault(f"{path} is not signed")
            continue
        unpacked = os.path.join(scratch, "signed_" + path.replace("/", "_"))
        with open(unpacked, "wb") as out:
            out.write(contents[path])
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", unpacked],
                                  capture_output=True, text=True)
        if verified.returncode:
            fault(f"{path}: its signature does not verify against the certificate:\n{verified.stdout[-800:]}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--source", "--objdump", "--version", "--name"):
        parser.add_argument(option, required=True)
    parser.add_argument("--sign-throwaway", action="store_true")
    parser.add_argument("dist", nargs="+")
    args = parser.parse_args()
    out = tempfile.mkdtemp(prefix="tvrelease_")
    command = [args.dist[0], f"-DOUT_DIR={out}"] + args.dist[1:]
    environment = {key: value for key, value in os.environ.items() if key not in SIGNING}
    certificate = None
    if args.sign_throwaway:
        signing, certificate = throwaway_certificate(out)
        environment.update(signing)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=environment)
    zip_path = os.path.join(out, args.name + ".zip")
    contents = read_zip(zip_path, args.name)
    expected = expected_files(args.source)
    for path in sorted(expected - set(contents)):
        fault(f"missing from the zip: {path}")
    for path in sorted(set(contents) - expected):
        fault(f"in the zip but not part of the package: {path}")
    check_sums(contents)
    check_texts(contents, args.version)
    check_documents(contents, args.source)
    check_binaries(contents, os.path.join(out, args.name + "-symbols"), args.objdump, args.version,
                   args.source, out)
    check_signatures(contents, out, certificate)
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
