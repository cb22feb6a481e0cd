#!/usr/bin/env bash
# The soak of both plug-ins (./dev soak): each program runs from a folder of
# its own under BUILD/soak, where the plug-in's logs land, and prints its
# table. Called by ./dev with the build folder and the number of calls per
# plug-in; the wineserver is up.
set -uo pipefail
BUILD=$1
CALLS=${2:-2000}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RUN=$HERE/../../cmake/wine-run.sh
SOAK=$BUILD/soak
rm -rf "$SOAK" && mkdir -p "$SOAK"
cp -r "$BUILD/x86_64/tools/soak/handset" "$BUILD/x86_64/tools/soak/sip" "$SOAK/"

start=$(date +%s)
rc=0
# Wine's sound back end complains on stderr on a machine without sound; the
# tables are on stdout.
(cd "$SOAK/handset" && "$RUN" soak_handset.exe --calls "$CALLS" 2>"$SOAK/handset.stderr") || rc=1
echo
(cd "$SOAK/sip" && "$RUN" soak_sip.exe --calls "$CALLS" 2>"$SOAK/sip.stderr") || rc=1
echo
# The SIP plug-in over the wire: kamailio and SIPp far ends on loopback.
python3 "$HERE/../../tests/wire/sip_wire.py" "$RUN" "$BUILD/x86_64/tests/sip_wire/sip_wire_test.exe" \
  --soak "${WIRE_SOAK_CALLS:-200}" || rc=1
echo
echo "== soak of both plug-ins, $CALLS calls each: $(( $(date +%s) - start )) s, $([ $rc = 0 ] && echo PASSED || echo FAILED)"
exit $rc
