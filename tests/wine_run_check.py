#!/usr/bin/env python3
"""cmake/wine-run.sh, without Wine: a copy of it in a scratch tree, with
stand-ins for wine64 and wineserver64 first on PATH, and a stand-in server
(a sleeping process named wineserver64) in the folder Wine names after the
prefix. The runner hands on what the program prints while it runs, ends the
program at once when the server's pid is gone or the server's log says it
crashed, and passes on the exit code of a program that ends by itself."""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = sys.argv[1]
failures = []
scratch = tempfile.mkdtemp(prefix="wine_run_check_")
os.makedirs(os.path.join(scratch, "cmake"))
os.makedirs(os.path.join(scratch, "bin"))
prefix = os.path.join(scratch, "build", "wineprefix")
os.makedirs(prefix)
runner = os.path.join(scratch, "cmake", "wine-run.sh")
shutil.copy(os.path.join(SOURCE, "cmake", "wine-run.sh"), runner)
log = os.path.join(scratch, "build", "wineserver.log")


def stand_in(name, body):
    path = os.path.join(scratch, "bin", name)
    with open(path, "w") as script:
        script.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, 0o755)


# The program: its arguments are shell commands. The server: sleep, which
# refuses the runner's "-p30" as a server already running would.
stand_in("wine64", 'eval "$*"')
shutil.copy(shutil.which("sleep"), os.path.join(scratch, "bin", "wineserver64"))
stat = os.stat(prefix)
server_dir = os.path.join(scratch, "tmp", f"server-{stat.st_dev:x}-{stat.st_ino:x}")
os.makedirs(server_dir)
env = dict(os.environ, PATH=os.path.join(scratch, "bin") + ":" + os.environ["PATH"])
env.pop("WINE_RUN_LIVE", None)


def run(program, server_fate=None):
    """Runs the program under the runner with a fresh stand-in server. Once
    the program has printed its first line, server_fate (kill, crash)
    befalls the server, or (timeout) the runner is killed as CTest kills a
    test at its timeout. Returns the exit code, the output, and the seconds
    the runner took after the fate."""
    server = subprocess.Popen([os.path.join(scratch, "bin", "wineserver64"), "60"], cwd=server_dir)
    proc = subprocess.Popen(["bash", runner, program], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)
    early = b""
    if server_fate:
        # What the program printed first, handed on while it still runs
        # (it sleeps 30 s); bounded for a busy machine.
        deadline = time.monotonic() + 20
        while b"\n" not in early and time.monotonic() < deadline:
            if select.select([proc.stdout], [], [], 0.2)[0]:
                early += os.read(proc.stdout.fileno(), 4096)
    fated = time.monotonic()
    if server_fate == "kill":
        server.kill()
        server.wait()  # gone, as a server that init reaps
    elif server_fate == "crash":
        with open(log, "a") as out:
            out.write("wineserver crashed, please enable coredumps (ulimit -c unlimited) and restart.\n")
    elif server_fate == "timeout":
        proc.send_signal(signal.SIGKILL)
    try:
        output, _ = proc.communicate(timeout=25)
    except subprocess.TimeoutExpired:
        proc.kill()
        output, _ = proc.communicate()
    server.kill()
    server.wait()
    return proc.returncode, (early + (output or b"")).decode(), time.monotonic() - fated


try:
    code, output, _ = run("echo first; echo second >&2; exit 3")
    if code != 3 or "first" not in output or "second" not in output:
        failures.append(f"a program that ends by itself: exit code {code}, output {output!r}")
    code, output, _ = run("echo printed before the hang; sleep 30", server_fate="timeout")
    if "printed before the hang" not in output:
        failures.append(f"a program ended by CTest's timeout: what it printed was lost ({output!r})")
    for fate, named in (("kill", "is gone"), ("crash", "wineserver crashed")):
        code, output, seconds = run("echo started; sleep 30", server_fate=fate)
        if code != 125 or named not in output or "started" not in output or seconds > 10:
            failures.append(f"server {fate}: exit code {code} {seconds:.1f} s after, output {output!r}; "
                            f"expected 125 within 10 s (the program sleeps 30 s), naming {named!r}")
finally:
    shutil.rmtree(scratch, ignore_errors=True)
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
