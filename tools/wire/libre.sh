#!/usr/bin/env bash
# Fetches libre's source from Debian's archive and builds libre.a for one
# width, for the wire KIRO.dll (sim/kirowire). Nothing of libre is committed:
# the source, its checksum check and the build all live under BUILD/libre.
#   tools/wire/libre.sh BUILD WIDTH      (WIDTH: x86_64 or i686)
# Prints nothing but progress; exits nonzero with the reason when the archive
# cannot be reached or the tarball does not match the .dsc.
set -euo pipefail
BUILD=$1 WIDTH=$2
DIR=$BUILD/libre
OUT=$DIR/$WIDTH/libre.a
[ -f "$OUT" ] && exit 0

fetch() {
  [ -f "$DIR/src/.fetched" ] && return 0
  local apt=$DIR/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$DIR/dl"
  # The same archive the machine installs from, as a source entry of a private
  # APT configuration: the machine's own lists and settings stay untouched.
  local uri suite
  uri=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  suite=$(awk '/^Suites:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  uri=${uri:-http://deb.debian.org/debian} suite=${suite:-bookworm}
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" >"$apt/sources.list"
  cat >"$apt/apt.conf" <<CONF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/none";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
CONF
  export APT_CONFIG=$apt/apt.conf
  if ! apt-get update -q >"$apt/update.log" 2>&1 || grep -q '^\(Err\|W: Failed\)' "$apt/update.log"; then
    echo "libre: Debian's archive ($uri) cannot be reached to fetch libre's source:" >&2
    tail -n 5 "$apt/update.log" >&2
    exit 1
  fi
  # The Debian patch tarball is not needed (libre builds unpatched) and may be
  # missing from the archive, so a failed source fetch still counts when the
  # .dsc and the orig tarball arrived.
  (cd "$DIR/dl" && apt-get source --download-only -q libre >"$apt/source.log" 2>&1) || true
  local dsc orig want have
  dsc=$(ls "$DIR"/dl/libre_*.dsc 2>/dev/null | head -n 1)
  orig=$(ls "$DIR"/dl/libre_*.orig.tar.* 2>/dev/null | head -n 1)
  if [ -z "$dsc" ] || [ -z "$orig" ]; then
    echo "libre: the archive gave no .dsc and orig tarball for libre:" >&2
    tail -n 5 "$apt/source.log" >&2
    exit 1
  fi
  want=$(awk -v f="$(basename "$orig")" '/^Checksums-Sha256:/{s=1; next} /^[^ ]/{s=0} s && $3==f {print $1}' "$dsc")
  have=$(sha256sum "$orig" | cut -d' ' -f1)
  if [ -z "$want" ] || [ "$want" != "$have" ]; then
    echo "libre: $(basename "$orig") does not match its .dsc (want '$want', have '$have')" >&2
    exit 1
  fi
  rm -rf "$DIR/src" && mkdir -p "$DIR/src"
  tar -xf "$orig" -C "$DIR/src" --strip-components=1
  touch "$DIR/src/.fetched"
}

build() {
  local cc=$WIDTH-w64-mingw32-gcc-posix launcher=
  command -v ccache >/dev/null && launcher="ccache "
  rm -rf "$DIR/$WIDTH.tree" && cp -a "$DIR/src" "$DIR/$WIDTH.tree"
  echo "== building libre for $WIDTH"
  # Without OpenSSL and zlib: no TLS, no compression; plain UDP SIP and RTP.
  make -C "$DIR/$WIDTH.tree" -j "${JOBS:-2}" CROSS_COMPILE=$WIDTH-w64-mingw32- CC="$launcher$cc" \
    SYSROOT=/usr/$WIDTH-w64-mingw32 USE_OPENSSL= USE_ZLIB= libre.a >"$DIR/$WIDTH.build.log" 2>&1 || {
    echo "libre: the $WIDTH build failed; see ${DIR#$PWD/}/$WIDTH.build.log" >&2
    tail -n 20 "$DIR/$WIDTH.build.log" >&2
    exit 1
  }
  mkdir -p "$DIR/$WIDTH/include"
  cp -a "$DIR/$WIDTH.tree/include/." "$DIR/$WIDTH/include/"
  cp "$(find "$DIR/$WIDTH.tree" -name libre.a | head -n 1)" "$OUT"
  rm -rf "$DIR/$WIDTH.tree"
}

fetch
build
