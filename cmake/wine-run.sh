#!/usr/bin/env bash
# Runs one Windows program under wine64 in the build's private prefix.
# ./dev starts a persistent wineserver for the prefix before the tests, so each
# program here pays no Wine start-up; run alone (plain ctest) it still works,
# only slower.
#
# The program's output goes through a file, not straight to our caller: when
# the prefix's services are not running, the first program starts them
# (services, winedevice, plugplay, rpcss), and they inherit its output. Given
# CTest's pipe, they would hold it open long after the program has exited,
# and CTest, which waits for the pipe's end, saw a program that printed that
# all its tests passed "never exit" until its timeout. So we wait for the
# program itself and then hand on what it wrote.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Always the project's own prefix, as ./dev's, whatever WINEPREFIX the caller's
# shell has: the tests must not run in (or leave their traces in) another.
export WINEPREFIX=$(cd "$here/.." && pwd)/build/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
# A caller that reads the output as it comes (the console at the keyboard)
# asks for it live and waits for the program's exit itself, not for the
# pipe's end.
if [ -n "${WINE_RUN_LIVE:-}" ]; then exec "$wine64" "$@"; fi
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
pid=
finish() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
}
trap 'finish; exit 143' TERM INT
# Standard input stays the caller's (a background job would get /dev/null).
"$wine64" "$@" <&0 >"$out" 2>"$err" &
pid=$!
wait "$pid"
rc=$?
pid=
finish
exit $rc
