#!/usr/bin/env bash
# The two scripted agent sessions of ./dev demo, run under wine64 in
# BUILD/demo. Called by ./dev demo with the build folder; the wineserver is up.
set -euo pipefail
BUILD=$1
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
X64=$BUILD/x86_64
RUN=$HERE/../cmake/wine-run.sh
DEMO=$BUILD/demo
rm -rf "$DEMO" && mkdir -p "$DEMO/handset" "$DEMO/sip"

# Wine's audio back end complains on stderr on a machine without sound; the
# transcripts are on stdout.
quiet() { "$@" 2>/dev/null; }

section() { printf '\n==================== %s ====================\n' "$1"; }

section "Session 1: BRAVIK32, the handset plug-in"
cp "$X64/tools/tvdemo_handset.exe" "$HERE/demo/handset.tvs" "$DEMO/handset/"
# A 1.5 s prompt for the caller: 8 kHz, 16-bit mono, as the handset plays it.
sox -n -r 8000 -b 16 -c 1 "$DEMO/handset/prompt.wav" synth 1.5 sine 440 fade 0.05 1.5 0.05
(cd "$DEMO/handset" && quiet "$RUN" tvdemo_handset.exe handset.tvs)
section "The handset plug-in's log (GBK, shown as UTF-8)"
for log in "$DEMO"/handset/halvex_*.log; do
  echo "$(basename "$log"):"
  iconv -f GBK -t UTF-8 "$log" | tr -d '\r' | sed 's/^/  /'
done
section "The recorded file"
sox --i "$DEMO/handset/caller.wav"

section "Session 2: Marenta, the SIP agent plug-in, over real SIP (as BRAVIK32.dll beside our KIRO.dll over libre)"
cp "$X64/tools/tvconsole.exe" "$X64/sim/wire/KIRO.dll" "$X64/sipagent/BRAVIK32.dll" "$DEMO/sip/"
cp -r "$X64/sipagent/res" "$DEMO/sip/"
sox -n -r 8000 -b 16 -c 1 "$DEMO/sip/prompt.wav" synth 1.5 sine 440 fade 0.05 1.5 0.05
# The registrar and the far ends are started and stopped by the session.
"$HERE/demo/sip_wire_demo.py" "$RUN" "$DEMO/sip"
section "The SIP plug-in's log"
tr -d '\r' < "$DEMO/sip/BRAVIK32.log" | sed 's/^/  /'
echo
