#!/usr/bin/env bash
# ./dev test32: the shipped 32-bit DLLs run in an emulated 32-bit Debian with
# 32-bit Wine (these machines' kernel runs no 32-bit code).
#   test32.sh BUILD
# 1. the guest image, built once and cached in BUILD/guest32 (image.sh);
# 2. the suites for i686 in BUILD/i686-tests (TV_TESTS_32), beside the
#    product in BUILD/i686, which ./dev builds as for ./dev test;
# 3. a disk with the suites, the console sessions and the stack checker
#    (runs.py stage), one boot that runs them (boot.sh), the files read back
#    with debugfs and one summary (runs.py report).
# A guest that hangs is stopped after GUEST32_TIMEOUT seconds and fails.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$1
GUEST=$BUILD/guest32
TESTS32=$BUILD/i686-tests
JOBS=${JOBS:-$(nproc)}
LIMIT=${GUEST32_TIMEOUT:-1800}
started=$(date +%s)

image_wanted() { cat "$HERE/image.sh" "$HERE/guest-init.sh" | sha256sum | cut -c1-16; }

if [ "$(cat "$GUEST/ready" 2>/dev/null)" != "$(image_wanted)" ]; then
  "$HERE/image.sh" "$GUEST"
  image_wanted > "$GUEST/ready"
fi
image_done=$(date +%s)

if [ ! -f "$TESTS32/CMakeCache.txt" ] || [ ! -f "$TESTS32/build.ninja" ]; then
  cmake -S "$ROOT" -B "$TESTS32" -G Ninja -DTV_TESTS_32=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake" >/dev/null
fi
echo "== building the i686 suites"
cmake --build "$TESTS32" -j "$JOBS"

STAGE=$GUEST/stage
BACK=$GUEST/back
rm -rf "$STAGE" "$STAGE.img" "$BACK"
mkdir -p "$STAGE" "$BACK"
rc=0
echo "== staging the guest's disk"
python3 "$HERE/runs.py" stage "$ROOT" "$TESTS32" "$BUILD/i686" "$STAGE" || rc=1
echo "== booting the 32-bit guest (software emulation; at most $LIMIT s)"
boot_started=$(date +%s)
boot_rc=0
"$HERE/boot.sh" "$GUEST" "$STAGE" snapshot "$LIMIT" > "$GUEST/boot.out" || boot_rc=$?
grep -a '^guest32: ' "$STAGE.log" || true
boot_done=$(date +%s)
debugfs -R "rdump /results /console /b /handset $BACK" "$STAGE.img" >/dev/null 2>&1 || true
python3 "$HERE/runs.py" report "$ROOT" "$TESTS32" "$STAGE" "$BACK" || rc=1
if [ $boot_rc != 0 ]; then
  echo "FAIL  the guest did not power off by itself (exit $boot_rc); console in $STAGE.log"
  rc=1
fi
echo "test32: image $((image_done - started)) s, guest boot and runs $((boot_done - boot_started)) s," \
     "all $(( $(date +%s) - started )) s"
exit $rc
