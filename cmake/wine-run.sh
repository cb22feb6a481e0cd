#!/usr/bin/env bash
# Runs one Windows program under wine64 in the build's private prefix.
# ./dev starts a persistent wineserver for the prefix before the tests, so each
# program here pays no Wine start-up; run alone (plain ctest) it still works,
# only slower.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec "$wine64" "$@"
