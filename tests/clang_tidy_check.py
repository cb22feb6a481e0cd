#!/usr/bin/env python3
"""Debian's clang-tidy over the product code: every source of handset/ and
sipagent/ as the x86_64 build compiles it (its compile_commands.json), with
the checks of the tree's .clang-tidy. clang reads the sources for the
mingw-w64 target with the cross compiler's own C++ headers; the flag that
makes the handset's strings GBK is left out (clang knows no other execution
character set than UTF-8, and no check looks at the bytes). Any finding
fails: fix it, or suppress it on its line with NOLINT(check) and the reason.
"""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

BUILD, SOURCE, COMPILER, TIDY = sys.argv[1:5]
JOBS = int(os.environ.get("TIDY_JOBS", "2"))


def search_dirs():
    """The cross compiler's system include folders, in its order, but for
    its own built-in headers (intrinsics), where clang has its own."""
    probe = subprocess.run([COMPILER, "-E", "-x", "c++", "-", "-v"], stdin=subprocess.DEVNULL,
                           capture_output=True, text=True)
    lines = probe.stderr.splitlines()
    start = lines.index("#include <...> search starts here:") + 1
    end = lines.index("End of search list.")
    folders = [line.strip() for line in lines[start:end]]
    return [folder for folder in folders if not folder.endswith(("/include", "/include-fixed")) or
            "/gcc/" not in folder]


def clang_args(command):
    """The compile command's -I, -D, -std and -isystem flags."""
    args, kept = shlex.split(command)[1:], []
    i = 0
    while i < len(args):
        arg = args[i]
        if arg in ("-I", "-D", "-isystem") and i + 1 < len(args):
            kept += [arg, args[i + 1]]
            i += 1
        elif arg.startswith(("-I", "-D", "-std=")):
            kept.append(arg)
        i += 1
    return kept


def main():
    entries = json.load(open(os.path.join(BUILD, "compile_commands.json")))
    product = {}
    for entry in entries:
        relative = os.path.relpath(entry["file"], SOURCE)
        if relative.startswith(("handset" + os.sep, "sipagent" + os.sep)) and relative.endswith(".cpp"):
            product.setdefault(relative, entry)
    if len(product) < 30:
        print(f"FAIL: only {len(product)} product sources in {BUILD}/compile_commands.json")
        return 1
    system = [arg for folder in search_dirs() for arg in ("-isystem", folder)]

    def tidy(relative):
        entry = product[relative]
        command = [TIDY, "--quiet", f"--config-file={SOURCE}/.clang-tidy", os.path.join(SOURCE, relative), "--",
                   "--target=x86_64-w64-mingw32", "-nostdinc++", *clang_args(entry["command"]), *system]
        done = subprocess.run(command, cwd=entry["directory"], capture_output=True, text=True)
        findings = [line for line in done.stdout.splitlines() if ": warning: " in line or ": error: " in line]
        return relative, done.returncode, findings, done.stdout + done.stderr

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
        for relative, code, findings, output in pool.map(tidy, sorted(product)):
            if code != 0 or findings:
                failed += 1
                print(f"--- {relative}\n{output}")
    print(f"clang-tidy: {len(product)} sources, {failed} with findings")
    return 1 if failed else 0


sys.exit(main())
