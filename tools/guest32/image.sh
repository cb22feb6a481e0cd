#!/usr/bin/env bash
# Builds, once, the 32-bit Debian guest that ./dev test32 boots: bookworm i386
# with the 686 kernel and 32-bit Wine, nothing graphical.
#   image.sh DIR   leaves DIR/base.img, DIR/vmlinuz and DIR/initrd.img; the
#                  tree in DIR/rootfs is kept, so a changed init script
#                  costs only the image and the preparing boot
#
# The i386 packages' install scripts are i386 programs that this kernel cannot
# run, so mmdebstrap runs them through qemu-i386-static. That needs a binfmt
# entry, global state of the whole machine: it is added only when missing and
# removed by the EXIT trap however the build ends, together with the
# binfmt_misc mount when this script made it.
#
# After mmdebstrap the tree becomes an ext4 image (mkfs.ext4 -d, no loop
# mount) and boots once to create Wine's prefix, so that every later run
# boots straight into a prepared Wine; runs use the image read-only
# (snapshot=on) and never change it.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DIR=$1
SUITE=bookworm
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=qemu-i386
mounted_binfmt=0
added_entry=0

binfmt_undo() {
  if [ $added_entry = 1 ] && [ -e $BINFMT/$ENTRY ]; then echo -1 > $BINFMT/$ENTRY || true; fi
  if [ $mounted_binfmt = 1 ]; then umount $BINFMT || true; fi
}

binfmt_add() {
  if [ ! -e $BINFMT/register ]; then
    mount -t binfmt_misc binfmt_misc $BINFMT
    mounted_binfmt=1
  fi
  [ -e $BINFMT/$ENTRY ] && return 0
  # The i386 ELF header (class 32-bit, little endian, type EXEC or DYN,
  # machine 3); F opens the interpreter now so that it works inside the chroot.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > $BINFMT/register
  added_entry=1
}

# The archive this machine's apt uses for the guest's release, as a one-line
# source: the deb822 files in sources.list.d first, then sources.list. The
# first "deb" entry that carries SUITE with the main component wins.
apt_source() {
  local f files=()
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && files+=("$f"); done
  awk -v suite="$SUITE" '
    function take(uris, suites, comps,   n, i, u) {
      if (found || types !~ /(^| )deb( |$)/) return
      if ((" " suites " ") !~ (" " suite " ") || (" " comps " ") !~ / main /) return
      n = split(uris, u, " "); if (n == 0) return
      print "deb " u[1] " " suite " main"; found = 1
    }
    function flush() { take(uris, suites, comps); types = uris = suites = comps = "" }
    FNR == 1 && NR > 1 { flush() }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    { line = $0; sub(/^[^:]*:[ \t]*/, "", line) }
    tolower($1) == "types:" { types = line }
    tolower($1) == "uris:" { uris = line }
    tolower($1) == "suites:" { suites = line }
    tolower($1) == "components:" { comps = line }
    END { flush() }
  ' "${files[@]}" /dev/null | head -n 1 | grep . && return 0
  [ -f /etc/apt/sources.list ] || return 1
  # One-line form: deb [options] URI SUITE COMPONENT...
  sed -e 's/#.*//' -e 's/\[[^]]*\]//' /etc/apt/sources.list |
    awk -v suite="$SUITE" '$1 == "deb" && $3 == suite {
      for (i = 4; i <= NF; i++) if ($i == "main") { print "deb " $2 " " suite " main"; exit } }' | grep .
}

build_tree() {
  local tree=$DIR/rootfs source
  if ! source=$(apt_source); then
    echo "guest32: this machine's apt sources name no $SUITE archive with main" >&2
    return 1
  fi
  rm -rf "$tree" "$tree.part"
  binfmt_add
  echo "== guest32: mmdebstrap bookworm i386 (install scripts run emulated, ~30 min)"
  mmdebstrap --architectures=i386 --variant=required \
    --aptopt='APT::Install-Recommends "false"' \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-include=/usr/share/locale/locale.alias' \
    --include=linux-image-686,wine,wine32,libwine,kmod,udev \
    $SUITE "$tree.part" "$source"
  binfmt_undo
  added_entry=0 mounted_binfmt=0
  mv "$tree.part" "$tree"
}

make_image() {
  local tree=$DIR/rootfs
  install -m 755 "$HERE/guest-init.sh" "$tree/sbin/guest32-init"
  cp "$tree"/boot/vmlinuz-* "$DIR/vmlinuz"
  cp "$tree"/boot/initrd.img-* "$DIR/initrd.img"
  rm -f "$DIR/base.img"
  mkfs.ext4 -q -F -L guest32 -d "$tree" "$DIR/base.img" 4G
}

# First boot: Wine creates its prefix in the image (about 40 s of the 32-bit
# wineboot that every run would pay otherwise), with the HID bus set up to
# list the kernel's hidraw devices.
prepare_wine() {
  local stage=$DIR/prepare
  rm -rf "$stage"; mkdir -p "$stage"
  cat > "$stage/guest-run.sh" <<'PREP'
wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
# Wine's HID bus tries SDL first and, with no libSDL2 in the guest, never
# starts its hidraw side: a USB handset would never be listed.
wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" \
  /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
wineserver -w
if [ -f /root/.wine/system.reg ] && wine cmd /c echo wine-runs </dev/null 2>/dev/null | grep -q wine-runs; then
  echo "guest32: wine prefix ready"
  echo ok > /mnt/t32/prepared
fi
wineserver -k
PREP
  "$HERE/boot.sh" "$DIR" "$stage" write 900
  if ! debugfs -R "cat /prepared" "$DIR/prepare.img" 2>/dev/null | grep -q ok ||
     grep -q "Oops" "$stage.log"; then
    echo "guest32: Wine did not come up in the preparing boot; see $stage.log"
    return 1
  fi
}

trap binfmt_undo EXIT
mkdir -p "$DIR"
rm -f "$DIR/ready"
[ -d "$DIR/rootfs" ] || build_tree
make_image
prepare_wine
echo "== guest32: image ready in $DIR"
