#!/usr/bin/env bash
# Runs one Windows program under wine64 in the build's private prefix.
# ./dev starts a persistent wineserver for the prefix before the tests, so each
# program here pays no Wine start-up; run alone (plain ctest) it starts one
# itself, kept 30 s after its last program, with its output in the same log.
#
# The program's output goes through files, not straight to our caller: when
# the prefix's services are not running, the first program starts them
# (services, winedevice, plugplay, rpcss), and they inherit its output. Given
# CTest's pipe, they would hold it open long after the program has exited,
# and CTest, which waits for the pipe's end, saw a program that printed that
# all its tests passed "never exit" until its timeout. So we wait for the
# program itself, and hand on what it writes every half second while it
# runs: a program that CTest ends at its timeout has shown how far it got.
#
# Every program of the prefix talks to the one server. When that server dies
# (it did, of a SIGSEGV, under load), each program blocks for good in its
# next call to it; so the program is ended at once, with the reason, instead
# of CTest waiting out its timeout for every test that runs then.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$here/.." && pwd)/build
# Always the project's own prefix, as ./dev's, whatever WINEPREFIX the caller's
# shell has: the tests must not run in (or leave their traces in) another.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
# A caller that reads the output as it comes (the console at the keyboard)
# asks for it live and waits for the program's exit itself, not for the
# pipe's end.
if [ -n "${WINE_RUN_LIVE:-}" ]; then exec "$wine64" "$@"; fi
server_log=$build/wineserver.log

wineserver_bin() {
  command -v wineserver64 || { [ -x /usr/lib/wine/wineserver64 ] && echo /usr/lib/wine/wineserver64; } ||
    command -v wineserver || echo /usr/lib/wine/wineserver
}
# The pid of the prefix's server, empty when none runs: the wineserver whose
# working folder is the one Wine names after the prefix's device and inode.
server_pid() {
  local dev ino cwd pid
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null) || return 0
  for cwd in $(find /proc -mindepth 2 -maxdepth 2 -name cwd \
      -lname "*/server-$(printf %x "$dev")-$(printf %x "$ino")" 2>/dev/null); do
    pid=${cwd#/proc/}
    pid=${pid%/cwd}
    case $(cat "/proc/$pid/comm" 2>/dev/null) in wineserver*) echo "$pid"; return 0 ;; esac
  done
}

mkdir -p "$WINEPREFIX"
server=$(server_pid)
if [ -z "$server" ]; then
  # Fails when another program started one meanwhile; that one serves too.
  "$(wineserver_bin)" -p30 </dev/null >/dev/null 2>>"$server_log" || true
  server=$(server_pid)
fi
log_start=$(stat -c %s "$server_log" 2>/dev/null || echo 0)

# Why the server is no more, or nothing while it serves.
server_gone() {
  local crash
  crash=$(tail -c +$((log_start + 1)) "$server_log" 2>/dev/null | grep -m1 -i 'crash\|segmentation\|abort')
  if [ -n "$crash" ]; then
    echo "Wine's server crashed: \"$crash\" ($server_log)"
  elif [ -n "$server" ] && ! kill -0 "$server" 2>/dev/null; then
    echo "Wine's server (pid $server) is gone; its output is in $server_log"
  fi
}

out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
out_sent=0 err_sent=0
# Hands on what the program wrote since the last call.
stream() {
  local size
  size=$(stat -c %s "$out")
  [ "$size" -gt "$out_sent" ] && tail -c +$((out_sent + 1)) "$out" | head -c $((size - out_sent))
  out_sent=$size
  size=$(stat -c %s "$err")
  [ "$size" -gt "$err_sent" ] && tail -c +$((err_sent + 1)) "$err" | head -c $((size - err_sent)) >&2
  err_sent=$size
}
pid= tick=
finish() {
  [ -n "$tick" ] && kill "$tick" 2>/dev/null
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  stream
  rm -f "$out" "$err"
}
trap 'finish; exit 143' TERM INT
# Standard input stays the caller's (a background job would get /dev/null).
"$wine64" "$@" <&0 >"$out" 2>"$err" &
pid=$!
rc=
while [ -z "$rc" ]; do
  sleep 0.5 &
  tick=$!
  finished=
  wait -n -p finished "$pid" "$tick"
  status=$?
  if [ "$finished" = "$pid" ]; then
    rc=$status
    pid=
    kill "$tick" 2>/dev/null
  fi
  tick=
  stream
  if [ -z "$rc" ] && reason=$(server_gone) && [ -n "$reason" ]; then
    echo "wine-run: $1 ended: $reason" >&2
    rc=125
  fi
done
finish
exit $rc
