#!/usr/bin/env python3
"""The host console in scripted sessions against both x86_64 plug-ins.

Each session runs tvconsole.exe (or the demo host) under wine64 in a fresh
folder laid out as a deployment would be, and checks that the expected lines
appear in the transcript in order.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

BUILD, WINE_RUN = sys.argv[1], sys.argv[2]
X64 = BUILD
failures = []


def run(folder, *args, timeout=90):
    done = subprocess.run([WINE_RUN, *args], cwd=folder, capture_output=True, text=True,
                          timeout=timeout)
    return done.returncode, done.stdout.replace("\r", "")


def expect_in_order(name, transcript, expected):
    position = 0
    for line in expected:
        found = transcript.find(line, position)
        if found < 0:
            failures.append(f"{name}: expected, after what came before, the line part {line!r}")
            print(f"--- {name} transcript ---\n{transcript}")
            return
        position = found + len(line)


def session(name, files, script, *console_args, expected, exit_code=0):
    folder = tempfile.mkdtemp(prefix=f"tvconsole_{name}_")
    for source in files:
        target = os.path.join(folder, os.path.basename(source))
        (shutil.copytree if os.path.isdir(source) else shutil.copy)(source, target)
    with open(os.path.join(folder, "session.tvs"), "w") as out:
        out.write(script)
    code, transcript = run(folder, *console_args)
    if code != exit_code:
        failures.append(f"{name}: exit code {code}, expected {exit_code}")
    expect_in_order(name, transcript, expected)
    return folder


def handset_dll_session():
    script = "installed\nversion\nbell 256\nbell on\ndtmfchar\ndtmf\nwait 2600\n"
    folder = session(
        "handset", [f"{X64}/tools/tvconsole.exe", f"{X64}/handset/core/BRAVIK32.dll"], script,
        "tvconsole.exe", "BRAVIK32.dll", "session.tvs",
        expected=["CT_StartMonitor(window) = 1", "TV_Installed() = 1", 'version: "20060601"',
                  "CT_Bell(256) = 1", "CT_Bell(1) = 1", "TV_GetDTMFChar(0) = -1",
                  "CT_GetDTMFStr(buffer) = 0", "<- 1134 no handset"])
    logs = glob.glob(os.path.join(folder, "halvex_*.log"))
    if len(logs) != 1:
        failures.append(f"handset: expected one log beside the console, found {logs}")
        return
    lines = open(logs[0], "rb").read().decode("gbk").split("\r\n")
    messages = [line.split("\t", 1)[1] for line in lines if "\t" in line]
    for wanted in ["HalvexV4 BRAVIK32.dll Log Started ", "TV_Installed ", "CT_Bell:Close ",
                   "CT_Bell:Open "]:
        if wanted not in messages:
            failures.append(f"handset log: no line {wanted!r}")
    if not messages or messages[-1] != "HalvexV4 BRAVIK32.dll Log Exited ":
        failures.append(f"handset log: last line {messages[-1:]!r}, expected the Log Exited line")


def sip_dll_session():
    script = ("register example.org 1001 secret proxy.example.org\ncall 2000\nsettle\n"
              "hangup\nsettle\npickup\noffer\nsettle\nplay prompt.wav\nhangup\nsettle\n"
              "unregister\n")
    session("sip", [f"{X64}/tools/tvconsole.exe", f"{X64}/sim/KIRO.dll",
                    f"{X64}/sipagent/BRAVIK32.dll", f"{X64}/sipagent/res"], script,
            "tvconsole.exe", "BRAVIK32.dll", "session.tvs",
            expected=["far-end commands of the simulated SIP library added",
                      'TV_Initialize("example.org", "1001", "***", "proxy.example.org", "") = 0',
                      'TV_MakeCall("2000") = 0', "~ tone: DialTones.wav (ASYNC|LOOP|FILENAME)",
                      "~ tone: Ringback.wav (ASYNC|LOOP|FILENAME)", "TV_HangUpCall() = 0",
                      "TV_PickUp() = 0", "~ tone: Ringtone.wav", 'TV_StartPlayFile("prompt.wav") = 0',
                      "TV_HangUpCall() = 0", "TV_UnInitialize() = 0"])


def wrong_plugin_session():
    # A DLL that is neither plug-in: every missing export is named, exit code 2.
    session("wrong", [f"{X64}/tools/tvconsole.exe", f"{X64}/sim/KIRO.dll"], "installed\n",
            "tvconsole.exe", "KIRO.dll", "session.tvs",
            expected=["missing export: TV_Initialize", "missing export: TV_StopRecordFile",
                      "11 export(s) missing"], exit_code=2)


def demo_host_session():
    script = ("connect\nhandset ring\nhandset caller 13800138000\nani\nstopdigit #\n"
              "handset digits 12#\ndtmf\ndial 123\nwire\nplay prompt.wav\nwaitplay 5000\n"
              "record caller.wav\nwait 500\nstoprecord\nhandset hangup\nunknowncommand\n")
    folder = tempfile.mkdtemp(prefix="tvdemo_")
    shutil.copy(f"{X64}/tools/tvdemo_handset.exe", folder)
    subprocess.run(["sox", "-n", "-r", "8000", "-b", "16", "-c", "1",
                    os.path.join(folder, "prompt.wav"), "synth", "0.5", "sine", "440"], check=True)
    with open(os.path.join(folder, "session.tvs"), "w") as out:
        out.write(script)
    code, transcript = run(folder, "tvdemo_handset.exe", "session.tvs")
    if code != 1:
        failures.append(f"demo host: exit code {code}, expected 1 for the unknown command")
    expect_in_order("demo host", transcript, [
        "handset found and opened", "<- 1124 ring", "<- 1133 caller number 13800138000",
        'ani: "13800138000"', "<- 1125 stop digit", 'dtmf: "12#"',
        "wire: ATZ<CR><LF>", "wire: ATB123<CR><LF>", 'TV_StartPlayFile(0, "prompt.wav") = 0',
        "playback ended", 'TV_StartRecordFile(0, "caller.wav") = 0', "TV_StopRecordFile(0) = 0",
        "<- 1126 hang-up", "unknown command 'unknowncommand'", "1 command(s) failed"])
    recorded = os.path.join(folder, "caller.wav")
    if not os.path.exists(recorded) or (os.path.getsize(recorded) - 44) % 1280:
        failures.append("demo host: the recording is not a header and whole 1280-byte buffers")


passed = failed = 0
for check in (handset_dll_session, sip_dll_session, wrong_plugin_session, demo_host_session):
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
