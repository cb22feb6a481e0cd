#!/usr/bin/env python3
"""The host console in scripted and keyboard sessions against both x86_64
plug-ins (its help checked against docs/CONSOLE.txt), the package's sample
host in C against both, and the console against what a
field engineer gets wrong: bad arguments, scripts saved as UTF-8 or UTF-16,
a DLL that is not a plug-in or does not load. Each session runs tvconsole.exe (or the demo host) under wine64 in a
fresh folder laid out as a deployment would be, and checks its exit code and
that the expected lines appear in the transcript in order.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

BUILD, WINE_RUN, SOURCE = sys.argv[1], sys.argv[2], sys.argv[3]
X64 = BUILD
CONSOLE = f"{X64}/tools/tvconsole.exe"
HANDSET = f"{X64}/handset/core/BRAVIK32.dll"
SIP = [f"{X64}/sim/KIRO.dll", f"{X64}/sipagent/BRAVIK32.dll", f"{X64}/sipagent/res"]
SAMPLES = f"{SOURCE}/tools/console/samples"
failures = []
transcripts = {}


def folder_with(name, files):
    """A fresh folder holding the files; a (source, subfolder) pair goes below."""
    folder = tempfile.mkdtemp(prefix=f"tvconsole_{name}_")
    for entry in files:
        source, below = entry if isinstance(entry, tuple) else (entry, "")
        target_dir = os.path.join(folder, below)
        os.makedirs(target_dir, exist_ok=True)
        target = os.path.join(target_dir, os.path.basename(source))
        (shutil.copytree if os.path.isdir(source) else shutil.copy)(source, target)
    return folder


def expect_in_order(name, transcript, expected):
    position = 0
    for line in expected:
        found = transcript.find(line, position)
        if found < 0:
            failures.append(f"{name}: expected, after what came before, the line part {line!r}")
            print(f"--- {name} transcript ---\n{transcript}")
            return
        position = found + len(line)


def session(name, files, args, expected, exit_code=0, script=None, script_bytes=None):
    folder = folder_with(name, files)
    if script is not None:
        script_bytes = script.encode("ascii")
    if script_bytes is not None:
        with open(os.path.join(folder, "session.tvs"), "wb") as out:
            out.write(script_bytes)
    done = subprocess.run([WINE_RUN, *args], cwd=folder, capture_output=True, timeout=120,
                          stdin=subprocess.DEVNULL)
    transcript = (done.stdout + done.stderr).decode("latin-1").replace("\r", "")
    transcripts[name] = transcript
    if done.returncode != exit_code:
        failures.append(f"{name}: exit code {done.returncode}, expected {exit_code}")
        print(f"--- {name} transcript ---\n{transcript}")
    expect_in_order(name, transcript, expected)
    return folder


def handset_script_session():
    script = ("installed\nversion\nbell 256\nbell on\nbell maybe\nbell\nwait abc\ndtmfchar\ndtmf\n"
              "unknowncommand\nplay nofile.wav\nwaitplay 1000\nstopplay\nexpect 1\nexpect 0\n"
              "strict on\ninitialize\nstrict off\nwait 2600\n")
    folder = session(
        "handset", [CONSOLE, HANDSET], ["tvconsole.exe", "BRAVIK32.dll", "session.tvs"], script=script,
        exit_code=1,
        expected=["tvconsole 1.", "BRAVIK32 handset plug-in (Halvex USB handset), version 1.",
                  "CT_StartMonitor(window) = 1", "TV_Installed() = 1 (installed)", 'version: "20060601"',
                  "CT_Bell(256) = 1", "CT_Bell(1) = 1", "bell: 'maybe' is not on, off, 1 or 0",
                  "^ script line 5 failed", "bell: takes 1 argument, got 0 (usage: bell on|off)",
                  "^ script line 6 failed", "wait: 'abc' is not a number of milliseconds",
                  "^ script line 7 failed", "TV_GetDTMFChar(0) = -1 (no digit queued)",
                  "CT_GetDTMFStr(buffer) = 0", "unknown command 'unknowncommand'", "^ script line 10 failed",
                  'TV_StartPlayFile(0, "nofile.wav") = -1 (not started', "the last playback did not start",
                  "TV_StopPlayFile(0) = 1", "expect: TV_StopPlayFile(0) returned 1, expected 0",
                  "TV_Initialize() = 0 (no handset open yet", "strict: TV_Initialize failed",
                  "<- 1134 no handset", "7 command(s) failed (script lines 5, 6, 7, 10, 12, 15, 17)"])
    logs = glob.glob(os.path.join(folder, "halvex_*.log"))
    if len(logs) != 1:
        failures.append(f"handset: expected one log beside the console, found {logs}")
        return
    lines = open(logs[0], "rb").read().decode("gbk").split("\r\n")
    messages = [line.split("\t", 1)[1] for line in lines if "\t" in line]
    for wanted in ["HalvexV4 BRAVIK32.dll Log Started ", "TV_Installed ", "CT_Bell:Close ", "CT_Bell:Open "]:
        if wanted not in messages:
            failures.append(f"handset log: no line {wanted!r}")
    if not messages or messages[-1] != "HalvexV4 BRAVIK32.dll Log Exited ":
        failures.append(f"handset log: last line {messages[-1:]!r}, expected the Log Exited line")


def read_until(transcript, wanted, seconds):
    """Reads the console's output in a thread until wanted shows; bounded."""
    deadline = time.monotonic() + seconds
    while wanted not in transcript[0] and time.monotonic() < deadline:
        time.sleep(0.05)
    return wanted in transcript[0]


def failed_searches(folder):
    """The handset searches that found nothing, as the log beside the console
    has them so far: each is followed by its 1134."""
    lines = b"".join(open(log, "rb").read() for log in glob.glob(os.path.join(folder, "halvex_*.log")))
    return lines.count("获取HID设备信息失败!".encode("gbk"))


def keyboard_session(name, files, typed, expected):
    """The console at the keyboard (a pipe): each (line, awaited) pair types
    the line, then reads on until the awaited text shows, so a notification
    must be printed while the console waits for its next line. An awaited
    number n instead waits until the log shows n more failed searches."""
    folder = folder_with(name, files)
    console = subprocess.Popen([WINE_RUN, "tvconsole.exe", "BRAVIK32.dll"], cwd=folder, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               env=dict(os.environ, WINE_RUN_LIVE="1"))
    transcript = [""]

    def pump():
        for chunk in iter(lambda: console.stdout.read1(4096), b""):
            transcript[0] += chunk.decode("latin-1").replace("\r", "")
    reader = threading.Thread(target=pump, daemon=True)
    reader.start()
    for line, awaited in typed:
        console.stdin.write(line.encode("ascii") + b"\n")
        console.stdin.flush()
        if isinstance(awaited, int):
            searches = failed_searches(folder) + awaited
            deadline = time.monotonic() + 60
            while failed_searches(folder) < searches and time.monotonic() < deadline:
                time.sleep(0.1)
            if failed_searches(folder) < searches:
                failures.append(f"{name}: the log shows no {awaited} more failed searches after {line!r} in 60 s")
        elif awaited and not read_until(transcript, awaited, 20):
            failures.append(f"{name}: no {awaited!r} printed while the console waited for its next line")
    try:
        code = console.wait(timeout=30)
    except subprocess.TimeoutExpired:
        console.kill()
        code = None
    reader.join(timeout=10)
    if code != 0:
        failures.append(f"{name}: exit code {code}, expected 0 after {typed[-1][0]}")
    expect_in_order(name, transcript[0], expected)
    check_help_documented(name, transcript[0])
    return transcript[0]


def check_help_documented(name, transcript):
    """Every command help lists is described in docs/CONSOLE.txt; help lists
    them in two groups under a heading each, alphabetically within each."""
    listing = transcript.split("Commands (words in capitals", 1)[-1].split("One command a line", 1)[0]
    groups = []
    for line in listing.splitlines()[1:]:
        if re.match(r"^ \S.*:$", line):
            groups.append([])
        elif line.startswith("  ") and line.strip() and groups:
            groups[-1].append(line.split()[0])
    commands = [command for group in groups for command in group]
    if not commands:
        failures.append(f"{name}: help listed no commands")
    if len(groups) != 2 or any(group != sorted(group) for group in groups):
        failures.append(f"{name}: help is not two groups in alphabetical order: {groups}")
    documented = open(os.path.join(SOURCE, "docs", "CONSOLE.txt"), encoding="ascii").read()
    for command in commands:
        if not re.search(rf"(?<![\w-]){re.escape(command)}(?![\w-])", documented):
            failures.append(f"{name}: help lists {command!r}, docs/CONSOLE.txt does not describe it")


def handset_keyboard_session():
    # Notifications off, then two more failed searches (the second one's
    # line comes 2.2 s after the first one's 1134, which the console has
    # then held back; a fixed wait of two searches' time was too short on a
    # busy machine): no 1134 line breaks up help, and turning them on says
    # how many were held back.
    transcript = keyboard_session(
        "keyboard", [CONSOLE, HANDSET],
        [("installed", "<- 1134 no handset"), ("notifications off", None), ("help", "wait MILLISECONDS"),
         ("wait 100", 2), ("notifications on", "while they were off"), ("quit", None)],
        ["handset> installed", "TV_Installed() = 1", "handset> notifications off",
         "handset> help", "The plug-in's commands:", "bell on|off", "dial DIGITS", "play FILE",
         "The console's own commands:", "exit", "expect RESULT", "notifications on|off", "quit",
         "wait MILLISECONDS", "handset> wait 100", "handset> notifications on", "notification(s) arrived while they were off",
         "handset> quit", "bye"])
    # The first search's 1134 comes before or after the first command,
    # whichever the machine's pace makes it; before the muting in any case.
    if "<- 1134 no handset" not in transcript.split("handset> notifications off", 1)[0]:
        failures.append("keyboard: no 1134 was printed before notifications were turned off")
    muted = transcript.split("handset> notifications off", 1)[-1].split("handset> notifications on", 1)[0]
    if "<- 11" in muted:
        failures.append("keyboard: a notification line was printed while notifications were off")


def sip_keyboard_session():
    keyboard_session("sip_keyboard", [CONSOLE] + SIP,
                     [("help", "strict on|off"), ("installed", "TV_Installed() = 1"), ("exit", None)],
                     ["Marenta SIP agent plug-in", "sip> help", "call DESTINATION",
                      "register DOMAIN USER PASSWORD PROXY [OPTION]", "sip> installed", "TV_Installed() = 1 (installed)", "sip> exit", "bye"])


def sip_script_session():
    script = ("register example.org 1001 secret proxy.example.org\nregister example.org 1001 secret p\n"
              "call 2000\nsettle\nhangup\nsettle\npickup\noffer\nsettle\nplay prompt.wav\nhangup\nsettle\n"
              "unregister\n")
    # The tones come with the library's events, on its own thread: before or
    # after TV_MakeCall's result line.
    session("sip", [CONSOLE] + SIP, ["tvconsole.exe", "BRAVIK32.dll", "session.tvs"], script=script,
            expected=["Marenta SIP agent plug-in (KIRO SIP library), version 1.",
                      "far-end commands of the simulated SIP library added",
                      'TV_Initialize("example.org", "1001", "***", "proxy.example.org", "") = 0 (registered)',
                      "= -3 (registration request refused)", "> call 2000",
                      "~ tone: DialTones.wav (ASYNC|LOOP|FILENAME)", "~ tone: Ringback.wav (ASYNC|LOOP|FILENAME)",
                      "> hangup", "TV_HangUpCall() = 0 (call ended)",
                      "TV_PickUp() = 0", "~ tone: Ringtone.wav", 'TV_StartPlayFile("prompt.wav") = 0',
                      "TV_HangUpCall() = 0", "TV_UnInitialize() = 0 (unregistered)"])
    placed = transcripts["sip"].split("> call 2000", 1)[-1].split("> settle", 1)[0]
    if 'TV_MakeCall("2000") = 0 (call placed)' not in placed:
        failures.append("sip: no 'TV_MakeCall(\"2000\") = 0 (call placed)' after the call command")


def sample_script_sessions():
    # The shipped samples are runnable as they stand: the SIP check passes
    # against the simulated library; the handset check stops at the handset
    # that is not there.
    session("sample_sip", [CONSOLE] + SIP + [f"{SAMPLES}/check-sip.tvs"],
            ["tvconsole.exe", "--strict", "BRAVIK32.dll", "check-sip.tvs"],
            expected=["TV_Initialize(", ") = 0 (registered)", 'TV_MakeCall("1002") = 0',
                      "TV_HangUpCall() = 0", "TV_UnInitialize() = 0", "== check done"])
    session("sample_handset", [CONSOLE, HANDSET, f"{SAMPLES}/check-handset.tvs"],
            ["tvconsole.exe", "BRAVIK32.dll", "check-handset.tvs"], exit_code=1,
            expected=["TV_GetDLLVersion(buffer) = 0", "the plug-in plays through", "the plug-in records from",
                      "expect: TV_Initialize() returned 0, expected 1"])


def sample_host_sessions():
    # The sample host in C of the package's samples folder against both
    # plug-ins: the release from the version resource, the handset's
    # messages through its message-only window, the SIP line registered.
    sample = f"{X64}/tools/sample_host.exe"
    session("sample_host_handset", [sample, HANDSET], ["sample_host.exe", "BRAVIK32.dll", "5"],
            expected=["BRAVIK32.dll: file version 1.", "the handset plug-in", "CT_StartMonitor = 1",
                      "TV_Initialize = 0", "message 1134 (no handset)", "message(s) in 5 s"])
    session("sample_host_sip", [sample] + SIP,
            ["sample_host.exe", "BRAVIK32.dll", "example.org", "1001", "secret", "proxy.example.org"],
            expected=["BRAVIK32.dll: file version 1.", "the SIP plug-in", "TV_Installed = 1",
                      "TV_Initialize = 0 (registered)", "TV_UnInitialize = 0 (unregistered)"])


def refused_plugin_sessions():
    # What a deployer meets: the vendor's DLL instead of a plug-in, the SIP
    # plug-in in a folder of its own with KIRO.dll beside it (the loader does
    # not look there), and a file that is no DLL of this width. A load failure
    # shows the system's text for its error (Wine's words here), the file put
    # into it.
    session("neither", [CONSOLE, SIP[0]], ["tvconsole.exe", "KIRO.dll"], exit_code=2,
            expected=["KIRO.dll is neither plug-in: it exports neither CT_StartMonitor"])
    session("kiro_beside", [CONSOLE] + [(path, "sip") for path in SIP[:2]], ["tvconsole.exe", "sip\\BRAVIK32.dll"],
            exit_code=2, expected=["cannot load sip\\BRAVIK32.dll: error 126",
                                   "a DLL it needs is missing: KIRO.dll is not where the Windows loader looks",
                                   "KIRO.dll lies beside the plug-in"])
    session("no_kiro", [CONSOLE, SIP[1]], ["tvconsole.exe", "BRAVIK32.dll"], exit_code=2,
            expected=["error 126: Module not found", "a DLL it needs is missing: KIRO.dll"])
    session("not_a_dll", [CONSOLE], ["tvconsole.exe", "session.tvs"], script="not a DLL\n", exit_code=2,
            expected=["cannot load session.tvs: error 193: Bad EXE format for session.tvs", "hint: not a 64-bit DLL"])
    session("usage", [CONSOLE], ["tvconsole.exe"], exit_code=2, expected=["usage: tvconsole [--strict] PLUGIN.dll"])


def script_encoding_sessions():
    text = "installed\r\necho caf\u00e9\r\n"
    for label, data in (("utf8_bom", b"\xef\xbb\xbf" + text.encode("utf-8")),
                        ("utf16", b"\xff\xfe" + text.encode("utf-16-le"))):
        session(label, [CONSOLE, HANDSET], ["tvconsole.exe", "BRAVIK32.dll", "session.tvs"], script_bytes=data,
                expected=["script session.tvs saved as", "read as text in the ANSI code page",
                          "TV_Installed() = 1", "caf\u00e9"])
    session("utf16_no_mark", [CONSOLE, HANDSET], ["tvconsole.exe", "BRAVIK32.dll", "session.tvs"],
            script_bytes="installed\r\n".encode("utf-16-le"), exit_code=2,
            expected=["script session.tvs holds NUL bytes: UTF-16 saved without a byte-order mark?"])
    session("no_script", [CONSOLE, HANDSET], ["tvconsole.exe", "BRAVIK32.dll", "missing.tvs"], exit_code=2,
            expected=["script missing.tvs cannot be opened for reading: error 2: "])
    session("not_ansi", [CONSOLE, HANDSET], ["tvconsole.exe", "BRAVIK32.dll", "session.tvs"],
            script_bytes=b"\xef\xbb\xbfinstalled\r\nplay \xe4\xb8\xad.wav\r\n", exit_code=2,
            expected=["script session.tvs line 2 holds a character that the ANSI code page"])


def demo_host_session():
    script = ("connect\nhandset ring\nhandset caller 13800138000\nani\nstopdigit #\n"
              "handset digits 12#\ndtmf\ndial 123\nwire\nplay prompt.wav\nwaitplay 5000\n"
              "record caller.wav\nwait 500\nstoprecord\nhandset hangup\nhandset sings\n")
    folder = tempfile.mkdtemp(prefix="tvdemo_")
    shutil.copy(f"{X64}/tools/tvdemo_handset.exe", folder)
    subprocess.run(["sox", "-n", "-r", "8000", "-b", "16", "-c", "1",
                    os.path.join(folder, "prompt.wav"), "synth", "0.5", "sine", "440"], check=True)
    with open(os.path.join(folder, "session.tvs"), "w") as out:
        out.write(script)
    done = subprocess.run([WINE_RUN, "tvdemo_handset.exe", "session.tvs"], cwd=folder, capture_output=True,
                          text=True, timeout=120)
    if done.returncode != 1:
        failures.append(f"demo host: exit code {done.returncode}, expected 1 for the unknown handset event")
    expect_in_order("demo host", done.stdout.replace("\r", ""), [
        "handset found and opened", "<- 1124 ring", "<- 1133 caller number 13800138000",
        'ani: "13800138000"', "<- 1125 stop digit", 'dtmf: "12#"',
        "wire: ATZ<CR><LF>", "wire: ATB123<CR><LF>", 'TV_StartPlayFile(0, "prompt.wav") = 0 (playing)',
        "playback ended", 'TV_StartRecordFile(0, "caller.wav") = 0', "TV_StopRecordFile(0) = 0",
        "<- 1126 hang-up", "handset: 'sings' is not an event of the handset", "1 command(s) failed"])
    recorded = os.path.join(folder, "caller.wav")
    if not os.path.exists(recorded) or (os.path.getsize(recorded) - 44) % 1280:
        failures.append("demo host: the recording is not a header and whole 1280-byte buffers")


passed = failed = 0
for check in (handset_script_session, handset_keyboard_session, sip_keyboard_session, sip_script_session,
              sample_script_sessions, sample_host_sessions, refused_plugin_sessions, script_encoding_sessions, demo_host_session):
    before = len(failures)
    check()
    if len(failures) == before:
        passed += 1
    else:
        failed += 1
for failure in failures:
    print("FAIL", failure)
print(f"console: {passed} passed, {failed} failed")
sys.exit(1 if failures else 0)
