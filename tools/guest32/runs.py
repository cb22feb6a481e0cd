#!/usr/bin/env python3
"""What ./dev test32 runs in the 32-bit guest, and what it made of it.

  runs.py stage  ROOT TESTS32 PRODUCT32 STAGE   lays out the guest's disk
  runs.py report ROOT TESTS32 STAGE BACK        checks what came back, sums up

The suites are the ones CTest knows in the i686 test folder (TESTS32): every
test whose program is a Windows .exe runs in the guest, in a copy of the
folder it would run in, with its timeout stretched for software emulation
and the environment CTest would give it (host paths made the guest's).
Host-side tests that make a suite's input (FIXTURES_SETUP) run natively
before the guest boots; those that read a suite's output (FIXTURES_REQUIRED
on a fixture a suite sets up) run natively on the files the guest wrote,
read back from its disk (BACK). The plug-ins and KIRO.dll the suites load are
replaced by the shipped ones from the product folder (PRODUCT32), so the
black-box suites, the console sessions and the stack checker all run the
files that are deployed.
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys

# Software emulation runs Wine several times slower than wine64 natively.
SLOWDOWN = int(os.environ.get("GUEST32_SLOWDOWN", "4"))
# Cases left out in the guest, with the reason the summary prints: their
# bounds are set for native speed, and under software emulation on a shared
# machine they measure the emulator, not the code. suite -> [(case, why)]
LEFT_OUT = {
    "exports_dll_test": [
        ("LoadedPlugin.NoHandsetNoticesReachTheWindowAlsoAfterStopMonitor",
         "waits 3 s for the first 1134; in the guest it takes up to 20 s (the console "
         "session and stack_check's unload cycles wait for it instead)"),
        ("PluginLifecycle.LoadUseUnloadSeveralTimesLeavesNoThreadAndEndsTheLog",
         "unloads 0/50/300 ms after load, which in the guest falls before the link thread "
         "has started (stack_check's unload cycles unload once it runs)")],
    "file_audio_test": [
        ("Directions/FileThreadsTest.StartsAndStopsFromTwoHostThreadsWhileSoundMoves/*",
         "allows 2.5 s for rounds that take 150 ms natively")],
    "link_thread_test": [
        ("EveryWait/StopTest.LinkThreadEndsByItselfAtOnce/*",
         "requires the stop within 100 ms (136 ms seen in the guest, the thread still ending "
         "by itself)")],
    "threads_test": [
        ("BaseThread.StuckWorkerIsEndedByForceAfterAbout100ms",
         "assumes the worker runs 20 ms after Start"),
        ("BaseThread.StopCutsAWorkersPauseShort", "assumes a stop within 100 ms")],
}

# Run first, so that a guest stopped at its time limit has done these: the
# checks against the shipped DLLs themselves.
FIRST = ["exports_dll_test", "sip_line_test", "sip_call_test", "sip_log_test",
         "sip_timeout_test"]
# Build products that the shipped files replace wherever a suite has a copy.
SHIPPED = ["handset/core/BRAVIK32.dll", "sipagent/BRAVIK32.dll", "sim/KIRO.dll"]
NO_COPY = shutil.ignore_patterns("CMakeFiles", "*.obj", "*.a", "*.ninja", ".ninja_*",
                                 "googletest", "Testing", "*.cmake", "CMakeCache.txt")

# The host console against each shipped plug-in: files laid out as deployed,
# a short script, the transcript lines expected in order.
SESSIONS = [
    {"name": "console_handset",
     "files": ["tools/tvconsole.exe", "handset/core/BRAVIK32.dll"],
     "script": "installed\nversion\nbell on\nbell off\ndtmfchar\ndtmf\nwait 6000\n",
     "expected": ["TV_Installed() = 1", 'version: "20060601"', "CT_Bell(1) = 1",
                  "CT_Bell(0) = 1", "TV_GetDTMFChar(0) = -1", "CT_GetDTMFStr(buffer) = 0",
                  "<- 1134"],
     "log": "halvex_*.log"},
    {"name": "console_sip",
     "files": ["tools/tvconsole.exe", "sipagent/BRAVIK32.dll", "sim/KIRO.dll", "sipagent/res"],
     "script": ("register example.org 1001 secret proxy.example.org\ncall 2000\nsettle\n"
                "hangup\nsettle\nunregister\n"),
     "expected": ['TV_Initialize("example.org", "1001", "***", "proxy.example.org", "") = 0',
                  'TV_MakeCall("2000") = 0', "TV_HangUpCall() = 0", "TV_UnInitialize() = 0"],
     "log": "BRAVIK32.log"},
]


def ctest_plan(tests32):
    shown = subprocess.run(["ctest", "--test-dir", tests32, "--show-only=json-v1"],
                           capture_output=True, text=True, check=True).stdout
    plan = []
    for test in json.loads(shown)["tests"]:
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        plan.append({"name": test["name"], "command": test.get("command") or [],
                     "folder": props.get("WORKING_DIRECTORY", tests32),
                     "timeout": int(props.get("TIMEOUT", 120)),
                     "environment": props.get("ENVIRONMENT", []),
                     "sets_up": props.get("FIXTURES_SETUP", []),
                     "requires": props.get("FIXTURES_REQUIRED", [])})
    return plan


def split_plan(plan):
    guest = [t for t in plan if t["command"] and t["command"][0].endswith(".exe")]
    guest_needs = {f for t in guest for f in t["requires"]}
    guest_makes = {f for t in guest for f in t["sets_up"]}
    host = [t for t in plan if t not in guest]
    before = [t for t in host if guest_needs & set(t["sets_up"])]
    after = [t for t in host if guest_makes & set(t["requires"])]
    return guest, before, after


class PathMap:
    """Host paths of the build and source trees to their places on the guest disk."""

    def __init__(self, root, tests32):
        self.pairs = [(os.path.abspath(tests32), "b"), (os.path.abspath(root), "s")]

    def guest_rel(self, path):
        for host, rel in self.pairs:
            if path == host or path.startswith(host + "/"):
                return rel + path[len(host):]
        return None

    def guest_arg(self, arg):
        # Windows programs get DOS paths: Wine's drive Z: is the guest's root.
        rel = self.guest_rel(arg)
        return arg if rel is None else "Z:\\mnt\\t32\\" + rel.replace("/", "\\")

    def guest_env(self, assignment):
        # Read by the guest's Unix libraries (ALSA's configuration): a Unix path.
        name, _, value = assignment.partition("=")
        rel = self.guest_rel(value)
        return assignment if rel is None else f"{name}=/mnt/t32/{rel}"


def run_host(test, pathmap=None, back=None):
    command = list(test["command"])
    folder = test["folder"]
    if back is not None:
        # Point the reader at the files read back from the guest's disk.
        command = [os.path.join(back, rel) if rel and rel.startswith("b") else a
                   for a, rel in ((a, pathmap.guest_rel(a)) for a in command)]
        folder = os.path.join(back, pathmap.guest_rel(folder) or "")
    done = subprocess.run(command, cwd=folder, capture_output=True, text=True,
                          timeout=test["timeout"])
    return done.returncode, done.stdout + done.stderr


def strip_programs(folder):
    programs = glob.glob(os.path.join(folder, "**", "*.exe"), recursive=True)
    if programs:
        subprocess.run(["i686-w64-mingw32-strip", *programs], check=True)


def place_shipped(stage_b, tests32, product32):
    """Every copy of a test-build DLL under STAGE/b becomes the shipped file."""
    placed = {}
    for rel in SHIPPED:
        built = open(os.path.join(tests32, rel), "rb").read()
        for copy in glob.glob(os.path.join(stage_b, "**", os.path.basename(rel)), recursive=True):
            if open(copy, "rb").read() == built:
                shutil.copy(os.path.join(product32, rel), copy)
                placed[rel] = placed.get(rel, 0) + 1
    return placed


def stage_sessions(stage, product32, tests32, lines):
    for session in SESSIONS:
        folder = os.path.join(stage, "console", session["name"])
        os.makedirs(folder)
        for rel in session["files"]:
            source = os.path.join(product32, rel)
            target = os.path.join(folder, os.path.basename(rel))
            (shutil.copytree if os.path.isdir(source) else shutil.copy)(source, target)
        with open(os.path.join(folder, "session.tvs"), "w") as out:
            out.write(session["script"])
        lines.append(f"{session['name']}|console/{session['name']}|240||"
                     f"console/{session['name']}/tvconsole.exe|BRAVIK32.dll session.tvs")
    folder = os.path.join(stage, "stack")
    for sub, files in (("handset", ["handset/core/BRAVIK32.dll"]),
                       ("sip", ["sipagent/BRAVIK32.dll", "sim/KIRO.dll", "sipagent/res"])):
        os.makedirs(os.path.join(folder, sub))
        for rel in files:
            source = os.path.join(product32, rel)
            target = os.path.join(folder, sub, os.path.basename(rel))
            (shutil.copytree if os.path.isdir(source) else shutil.copy)(source, target)
    shutil.copy(os.path.join(tests32, "tools/guest32/stack_check.exe"), folder)
    lines.append("stack_check|stack|300||stack/stack_check.exe|"
                 "handset\\BRAVIK32.dll sip\\BRAVIK32.dll")


# The real-stack handset run: the shipped plug-in, the test host and the
# kernel handset (handsetd) in one folder, started by its run script. Last,
# so that the handset and the sound card it makes exist for no other run.
HANDSET_RUN = {"name": "handset_real", "limit": 900,
               "files": ["tools/guest32/handset_real.exe", "tools/guest32/handsetd"],
               "script": "tools/guest32/handset/handset-run.sh"}


def stage_handset(root, stage, product32, tests32, lines):
    """Stages the handset run; the reason when it cannot be staged."""
    folder = os.path.join(stage, "handset")
    os.makedirs(folder)
    for rel in HANDSET_RUN["files"]:
        if not os.path.exists(os.path.join(tests32, rel)):
            return f"{rel} is not built (handsetd needs gcc-i686-linux-gnu)"
        shutil.copy(os.path.join(tests32, rel), folder)
    shutil.copy(os.path.join(product32, "handset/core/BRAVIK32.dll"), folder)
    shutil.copy(os.path.join(root, HANDSET_RUN["script"]), folder)
    lines.append(f"{HANDSET_RUN['name']}|handset|{HANDSET_RUN['limit']}||handset/handset-run.sh|"
                 "handset_real.exe BRAVIK32.dll")
    return None


def stage(root, tests32, product32, stage_dir):
    guest, before, after = split_plan(ctest_plan(tests32))
    pathmap = PathMap(root, tests32)
    failed_before = []
    for test in before:
        code, output = run_host(test)
        if code:
            failed_before.append(test["name"])
            print(f"guest32: {test['name']} (host, before the guest) failed:\n{output}")
    shutil.copytree(tests32, os.path.join(stage_dir, "b"), ignore=NO_COPY)
    strip_programs(os.path.join(stage_dir, "b"))
    placed = place_shipped(os.path.join(stage_dir, "b"), tests32, product32)
    lines = []
    stage_sessions(stage_dir, product32, tests32, lines)
    guest.sort(key=lambda t: FIRST.index(t["name"]) if t["name"] in FIRST else len(FIRST))
    for test in guest:
        program, *args = test["command"]
        if test["name"] in LEFT_OUT:
            args.append("--gtest_filter=-" + ":".join(c for c, _ in LEFT_OUT[test["name"]]))
        # Every case named in the output: a suite stopped at its limit shows
        # the case it was in.
        args = ["--gtest_brief=0" if a == "--gtest_brief=1" else a for a in args]
        for arg in args:
            rel = pathmap.guest_rel(arg)
            if rel and rel.startswith("s/") and not os.path.exists(os.path.join(stage_dir, rel)):
                (shutil.copytree if os.path.isdir(arg) else shutil.copy)(
                    arg, os.path.join(stage_dir, rel))
        lines.append("|".join([test["name"], pathmap.guest_rel(test["folder"]),
                               str(test["timeout"] * SLOWDOWN),
                               " ".join(pathmap.guest_env(e) for e in test["environment"]),
                               pathmap.guest_rel(program),
                               " ".join(pathmap.guest_arg(a) for a in args)]))
    unstaged = stage_handset(root, stage_dir, product32, tests32, lines)
    if unstaged:
        failed_before.append(HANDSET_RUN["name"])
        print(f"guest32: {HANDSET_RUN['name']} cannot run: {unstaged}")
    with open(os.path.join(stage_dir, "runs.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")
    shutil.copy(os.path.join(os.path.dirname(__file__), "guest-run.sh"), stage_dir)
    with open(os.path.join(stage_dir, "plan.json"), "w") as out:
        json.dump({"after": after, "failed_before": failed_before, "placed": placed,
                   "runs": [line.split("|")[0] for line in lines]}, out, indent=1)
    for rel in SHIPPED:
        print(f"guest32: shipped {rel} from {product32} placed in {placed.get(rel, 0)} test folder(s)")
    print(f"guest32: {len(lines)} run(s) staged, {len(before)} input maker(s) ran on the host")
    return 1 if failed_before else 0


def gtest_counts(output):
    """(ran, failed, skipped) from GoogleTest's closing lines, None without them."""
    counts = [re.search(pattern, output) for pattern in
              (r"\[=+\] (\d+) tests? from .* ran", r"\[  PASSED  \] (\d+) test",
               r"\[  SKIPPED \] (\d+) test")]
    isolated = re.search(r"\[=+\] (\d+) tests, each in its own process: (\d+) passed, (\d+) failed",
                         output)
    if isolated:
        return int(isolated.group(1)), int(isolated.group(3)), 0
    if not counts[0]:
        return None
    ran, passed, skipped = (int(m.group(1)) if m else 0 for m in counts)
    return ran, ran - passed - skipped, skipped


def session_problems(session, folder, transcript):
    problems = []
    position = 0
    for line in session["expected"]:
        found = transcript.find(line, position)
        if found < 0:
            problems.append(f"expected, after what came before, {line!r}")
            break
        position = found + len(line)
    if not glob.glob(os.path.join(folder, session["log"])):
        problems.append(f"no log {session['log']} written")
    return problems


def guest_outcome(name, back, sessions):
    """(passed, what) of one guest run from its .rc and .out files."""
    try:
        code, took = open(os.path.join(back, "results", name + ".rc")).read().split()
    except OSError:
        return False, "did not run (the guest stopped before it)"
    output = open(os.path.join(back, "results", name + ".out"), errors="replace").read()
    what = f"exit {code}, {took} s"
    if code == "124" or code == "137":
        what += ", killed at its time limit"
    counts = gtest_counts(output)
    closing = re.search(r"^\S+: (\d+) passed, (\d+) failed", output, re.M)
    if counts:
        what += f", {counts[0]} case(s), {counts[1]} failed, {counts[2]} skipped"
    elif closing:
        what += f", {closing.group(1)} passed, {closing.group(2)} failed"
    passed = code == "0"
    if name in sessions:
        problems = session_problems(sessions[name], os.path.join(back, "console", name),
                                    output.replace("\r", ""))
        passed = passed and not problems
        what += "".join(f"; {p}" for p in problems)
    return passed, what


def print_figures(out):
    """The measurements of a run ("figure:" lines), shown whether it passed or not."""
    if os.path.exists(out):
        for line in open(out, errors="replace"):
            if line.startswith("figure: "):
                print("guest32: " + line.rstrip())


def report(root, tests32, stage_dir, back):
    plan = json.load(open(os.path.join(stage_dir, "plan.json")))
    sessions = {s["name"]: s for s in SESSIONS}
    rows = [(name, False, "input maker failed on the host") for name in plan["failed_before"]]
    for name in plan["runs"]:
        passed, what = guest_outcome(name, back, sessions)
        if name == HANDSET_RUN["name"]:
            print_figures(os.path.join(back, "results", name + ".out"))
        rows.append((name, passed, what))
        if not passed:
            out = os.path.join(back, "results", name + ".out")
            if os.path.exists(out):
                print(f"--- {name} (last 40 lines) ---")
                print("".join(open(out, errors="replace").readlines()[-40:]))
    pathmap = PathMap(root, tests32)
    for test in plan["after"]:
        try:
            code, output = run_host(test, pathmap, back)
        except (OSError, subprocess.TimeoutExpired) as failure:
            code, output = "-", f"the guest's files did not come back or were not read: {failure}"
        rows.append((test["name"] + " (host, on the guest's files)", code == 0, f"exit {code}"))
        if code:
            print(f"--- {test['name']} ---\n{output}")
    for name, cases in LEFT_OUT.items():
        for case, why in cases:
            print(f"guest32: left out {name} {case}: it {why}")
    print("== test32 summary (i686 under 32-bit Wine in the emulated guest)")
    for name, passed, what in rows:
        print(f"{'PASS' if passed else 'FAIL'}  {name:44} {what}")
    npass = sum(1 for r in rows if r[1])
    print(f"test32: {npass} passed, {len(rows) - npass} failed")
    return 0 if npass == len(rows) else 1


def main():
    verb, args = sys.argv[1], sys.argv[2:]
    if verb == "stage":
        return stage(*args)
    if verb == "report":
        return report(*args)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
