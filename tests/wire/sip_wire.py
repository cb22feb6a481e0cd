#!/usr/bin/env python3
"""Runs sip_wire_test's cases, each in a process of its own, with the services
it needs started before it and stopped after it (wire_services.py), then
checks what the far ends saw and the audio recorded.

    sip_wire.py WINE_RUN SIP_WIRE_TEST_EXE [CASE ...]
    sip_wire.py WINE_RUN SIP_WIRE_TEST_EXE --soak CALLS [--report-growth-only]

WINE_RUN is cmake/wine-run.sh; with no CASE every case runs. --soak runs the
wire soak (CWireSoak.Shift) over the same services and prints its table. A case passes
when its test passes, every far end's scenario ended with success (SIPp's
exit code 0: the far end saw the messages it expects, and no call of its is
left), and the recordings hold the tones asked, measured with sox.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import wire_services as ws

# name (the test's, or "test/variant" with the test named in "test"): the far
# end answering the agent's call (a scenario, with SIPp -key pairs), the far
# ends the case asks for while it runs, extra environment, and the
# recordings' tones (file, frequency in Hz, length of the sound in seconds or
# None).
PCMU = {"law": "PCMU", "law_pt": "0"}
CASES = [
    ("RegisterAndUnregister", {}),
    ("WrongPasswordFailsWithItsLogEntry", {}),
    ("HangUpWhileAlertingSendsCancel", {"far": "ring.xml"}),
    ("AnsweredCallPlaysTheFile", {"far": "answer.xml", "keys": PCMU, "echo": True,
                                  "audio": [("echo.wav", 440, 2.0)]}),
    ("AnsweredCallPlaysTheFile/PCMA", {"test": "AnsweredCallPlaysTheFile", "far": "answer.xml",
                                       "keys": {"law": "PCMA", "law_pt": "8"}, "echo": True,
                                       "audio": [("echo.wav", 440, 2.0)]}),
    ("PlayRefusesOtherFormats", {"far": "answer.xml", "keys": PCMU}),
    ("IncomingCallRingsAndIsRecorded", {"asks": {"call-in": ("call_in.xml", ["-d", "2500"])},
                                        "audio": [("incoming.wav", 1000, None)]}),
    ("CallerCancelsWhileRinging", {"asks": {"cancel-in": ("cancel_in.xml", [])}}),
    ("BusyGivesTheBusyToneThenRegistered", {"far": "busy.xml"}),
    ("SilentFarEndGetsTheProxysTimeout", {"far": "silent.xml"}),
    ("FarEndByeGivesRegistered", {"far": "hangup.xml"}),
    ("EarlyMediaThenAnswer", {"far": "early.xml"}),
    ("HoldAndResumeLeaveTheCallTalking", {"far": "hold.xml"}),
    ("RenewalDuringACallLeavesItTalking", {"far": "answer.xml", "keys": PCMU, "env": {"KIRO_REG_EXPIRES": "3"}}),
    ("RegistrarStoppedThenBack", {"env": {"KIRO_REG_EXPIRES": "3"}}),
]
CASE_SECONDS = 90
TOLERANCE = 0.05


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def make_audio(folder):
    def sox(*args):
        subprocess.run(["sox", "-q", "-n"] + list(args), check=True)
    sox("-r", "8000", "-b", "16", "-c", "1", os.path.join(folder, "prompt440.wav"), "synth", "2", "sine", "440",
        "vol", "0.5")
    sox("-r", "8000", "-b", "16", "-c", "1", os.path.join(folder, "prompt200.wav"), "synth", "0.2", "sine", "440",
        "vol", "0.5")
    sox("-r", "16000", "-b", "16", "-c", "1", os.path.join(folder, "prompt16k.wav"), "synth", "1", "sine", "440")
    # SIPp streams the WAV's G.711 bytes as they are.
    sox("-r", "8000", "-e", "u-law", "-c", "1", os.path.join(folder, "tone1000.wav"), "synth", "10", "sine", "1000",
        "vol", "0.5")


def measure(path):
    """(seconds of sound, rough frequency) of a WAV, by sox."""
    out = subprocess.run(["sox", path, "-n", "silence", "1", "0.02", "2%", "reverse", "silence", "1", "0.02", "2%",
                          "reverse", "stat"], capture_output=True, text=True).stderr
    length = re.search(r"Length \(seconds\):\s+([0-9.]+)", out)
    freq = re.search(r"Rough\s+frequency:\s+([0-9.]+)", out)
    return (float(length.group(1)) if length else 0.0, float(freq.group(1)) if freq else 0.0)


def check_audio(folder, expected):
    faults = []
    for name, hz, seconds in expected:
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            faults.append("%s was not recorded" % name)
            continue
        length, freq = measure(path)
        if abs(freq - hz) > TOLERANCE * hz:
            faults.append("%s: %.0f Hz, expected %d Hz within 5%%" % (name, freq, hz))
        if seconds is not None and abs(length - seconds) > TOLERANCE * seconds:
            faults.append("%s: %.3f s of sound, expected %.1f s within 5%%" % (name, length, seconds))
        print("   %s: %.3f s of sound at %.0f Hz" % (name, length, freq))
    return faults


def serve_asks(services, folder, asks):
    """Does what the running case asked for (files ask-NAME, answered done-NAME)."""
    for entry in os.listdir(folder):
        if not entry.startswith("ask-"):
            continue
        what = entry[4:]
        os.remove(os.path.join(folder, entry))
        if what == "stop-registrar":
            services.stop_registrar()
        elif what == "start-registrar":
            services.start_registrar()
        elif what in asks:
            scenario, args = asks[what]
            services.start_far_end(scenario, ws.CALLER, calls_to="127.0.0.1:%d" % services.port(ws.PROXY), args=args)
        open(os.path.join(folder, "done-" + what), "w").close()


def run_case(wine_run, exe, name, scene):
    folder = tempfile.mkdtemp(prefix="sip_wire_%s_" % name.replace("/", "_"))
    services = ws.Services(folder)
    faults = []
    try:
        make_audio(folder)
        services.start_registrar()
        if "far" in scene:
            services.start_far_end(scene["far"], ws.FAR, echo=scene.get("echo", False), keys=scene.get("keys", {}),
                                   calls=scene.get("far_calls", 1), seconds=scene.get("seconds", 30))
        env = dict(os.environ)
        env.update({
            "WIRE_PROXY": "127.0.0.1:%d" % services.port(ws.PROXY),
            "WIRE_DOMAIN": "127.0.0.1",
            "WIRE_FAR": "sip:far@127.0.0.1:%d" % services.port(ws.FAR),
            "WIRE_DIR": windows_path(folder),
            "KIRO_SIP_ADDR": "127.0.0.1:%d" % services.port(ws.AGENT),
            "KIRO_RTP_BASE": str(services.port(ws.AGENT_RTP)),
            "KIRO_TRACE": windows_path(os.path.join(folder, "trace.txt")),
        })
        env.update(scene.get("env", {}))
        test_name = scene.get("test", name)
        test_name = test_name if "." in test_name else "CWireTest." + test_name
        test = subprocess.Popen([wine_run, exe, "--gtest_filter=" + test_name, "--gtest_brief=1"],
                                env=env, cwd=os.path.dirname(exe), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + scene.get("seconds", CASE_SECONDS)
        while test.poll() is None and time.monotonic() < deadline:
            serve_asks(services, folder, scene.get("asks", {}))
            time.sleep(0.02)
        if test.poll() is None:
            ws.stop(test, 5)
            faults.append("the test did not end within %d s" % scene.get("seconds", CASE_SECONDS))
        output = test.stdout.read().decode(errors="replace")
        if test.returncode != 0 or "[  PASSED  ] 1 test" not in output:
            faults.append("the test failed:\n" + output)
        elif os.environ.get("WIRE_VERBOSE") or scene.get("verbose"):
            print(output)
        for scenario, code in services.far_end_results(40):
            if code != 0:
                faults.append("far end %s ended with %s (0: its scenario completed)" % (scenario, code))
        faults += check_audio(folder, scene.get("audio", []))
    except Exception as e:  # a service that would not start fails the case
        faults.append(str(e))
    finally:
        services.close()
    if faults:
        for log in sorted(os.listdir(folder)):
            if log.endswith((".log", ".txt")) and not log.startswith("BRAVIK32"):
                with open(os.path.join(folder, log), errors="replace") as f:
                    faults.append("--- %s\n%s" % (log, "".join(f.readlines()[-40:])))
    elif not os.environ.get("WIRE_KEEP"):
        shutil.rmtree(folder, ignore_errors=True)
    return faults


def soak_spec(calls, judge):
    """The wire soak: half the calls out to an echoing far end, half in."""
    return {"test": "CWireSoak.Shift", "far": "answer.xml", "keys": PCMU, "echo": True,
            "far_calls": (calls + 1) // 2, "seconds": 60 + 3 * calls, "verbose": True,
            "asks": {"call-in": ("call_in.xml", ["-d", "300"])},
            "env": {"WIRE_SOAK_CALLS": str(calls), "WIRE_SOAK_JUDGE": "1" if judge else "0"}}


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    specs = dict(CASES)
    names = sys.argv[3:] or [name for name, _ in CASES]
    if names[0] == "--soak":
        specs = {"soak": soak_spec(int(names[1]), "--report-growth-only" not in names)}
        names = ["soak"]
    # CTest's timeout ends us with SIGTERM: the services still go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    failed = []
    for name in names:
        started = time.monotonic()
        faults = run_case(wine_run, exe, name, specs[name])
        print("[%s] %s (%.1f s)" % ("FAIL" if faults else " ok ", name, time.monotonic() - started), flush=True)
        for fault in faults:
            print("   " + fault.replace("\n", "\n   "))
        if faults:
            failed.append(name)
    print("%d of %d wire cases passed%s" % (len(names) - len(failed), len(names),
                                           (": failed " + ", ".join(failed)) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
