#!/usr/bin/env bash
# Boots the cached 32-bit guest once under QEMU's full-system emulator
# (software emulation: these machines have no KVM) with the folder STAGE as
# its second disk, and waits for it to power off.
#   boot.sh DIR STAGE MODE SECONDS
# DIR holds the image (image.sh); STAGE becomes STAGE.img, which the guest
# mounts and runs STAGE/guest-run.sh from; MODE "write" keeps what the guest
# writes to its root disk (the preparing boot), anything else discards it.
# The console goes to STAGE.log and to stdout. A guest still running after
# SECONDS is killed: exit status 124. QEMU's default 32-bit CPU: with
# "-cpu max" (SMAP/SMEP) the guest kernel faults Wine's user-mode iret.
set -euo pipefail
DIR=$1 STAGE=$2 MODE=$3 LIMIT=$4
DATA=$STAGE.img
LOG=$STAGE.log
rm -f "$DATA"
mkfs.ext4 -q -F -L t32 -d "$STAGE" "$DATA" 2G
snap=on
[ "$MODE" = write ] && snap=off
set +e
timeout --kill-after=20 "$LIMIT" qemu-system-i386 \
  -machine pc -m 2048 -smp 2 \
  -display none -monitor none -serial stdio -no-reboot \
  -kernel "$DIR/vmlinuz" -initrd "$DIR/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/sbin/guest32-init quiet panic=1" \
  -drive "file=$DIR/base.img,format=raw,if=virtio,snapshot=$snap" \
  -drive "file=$DATA,format=raw,if=virtio" \
  </dev/null 2>&1 | tee "$LOG"
rc=${PIPESTATUS[0]}
set -e
[ $rc = 124 ] || [ $rc = 137 ] && echo "guest32: the guest was still running after ${LIMIT} s and was stopped"
exit $rc
