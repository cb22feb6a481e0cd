#!/bin/sh
# Recording onto a full disk: a tmpfs of 96 KB, mounted here and mapped as a
# drive letter of the build's Wine prefix, takes the full-disk cases of each
# suite given (the drive emptied before each). Everything made here is
# undone on the way out, whatever the outcome.
#   file_recording_full_disk.sh WINE_RUN WINEPREFIX TEST_EXE...
set -u
wine_run=$1 prefix=$2
shift 2
# A letter of its own, unused by Wine's defaults (c:, z:).
drive=r
link=$prefix/dosdevices/$drive:
mnt=$(mktemp -d "${TMPDIR:-/tmp}/tv_full_disk.XXXXXX")
cleanup() {
  rm -f "$link"
  umount "$mnt" 2>/dev/null
  rmdir "$mnt"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
if ! mount -t tmpfs -o size=96k tmpfs "$mnt"; then
  echo "file_recording_full_disk: cannot mount a tmpfs (needs root): not run" >&2
  exit 77
fi
mkdir -p "$prefix/dosdevices"
ln -sfn "$mnt" "$link"
rc=0
for exe in "$@"; do
  rm -f "$mnt"/*
  (cd "$(dirname "$exe")" &&
    TV_FULL_DISK_DRIVE=$drive "$wine_run" "$exe" --gtest_brief=1 --gtest_filter='*FullDisk*') || rc=1
done
exit $rc
