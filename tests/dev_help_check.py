#!/usr/bin/env python3
"""./dev with no command prints its whole help, which names every command
the script runs, and fails (exit code 2); ./dev help prints the same and
succeeds."""
import re
import subprocess
import sys

DEV = sys.argv[1]
failures = []
commands = re.findall(r"^  ([a-z0-9]+)(?: \|[^)]*)?\)", open(DEV, encoding="utf-8").read(), re.M)
if len(commands) < 9:
    failures.append(f"found only {commands} as commands in {DEV}")
bare = subprocess.run(["bash", DEV], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
if bare.returncode != 2:
    failures.append(f"./dev with no command: exit code {bare.returncode}, expected 2")
for command in commands:
    if not re.search(rf"^  \./dev {command}\b", bare.stdout, re.M):
        failures.append(f"./dev with no command: its help does not describe ./dev {command}")
if bare.stdout.count("\n") < len(commands) or "#" in bare.stdout or "set -" in bare.stdout:
    failures.append(f"./dev with no command printed something other than its help:\n{bare.stdout}")
asked = subprocess.run(["bash", DEV, "help"], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
if asked.returncode != 0 or asked.stdout != bare.stdout:
    failures.append(f"./dev help: exit code {asked.returncode}, or not the same text as ./dev alone")
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
