#!/bin/sh
# PID 1 of the 32-bit guest (installed as /sbin/guest32-init). The kernel
# starts it in place of an init system: it mounts what Wine needs, runs the
# script that the host put on the second disk (/dev/vdb) and powers off, so
# that one boot is one run and its output is the serial console. The second
# disk keeps the run's files for the host to read back with debugfs.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The initramfs hands over /proc, /sys and /dev mounted already.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs shm /dev/shm
mount -t tmpfs tmp /tmp
# udev first: Wine's HID bus learns of hidraw devices, and of a handset that
# comes and goes, from udev's events and database.
udevd=/lib/systemd/systemd-udevd
[ -x $udevd ] || udevd=/usr/lib/systemd/systemd-udevd
if [ -x $udevd ]; then
  $udevd --daemon
  udevadm trigger --action=add
  udevadm settle --timeout=60
fi
mkdir -p /mnt/t32
if mount -t ext4 /dev/vdb /mnt/t32; then
  (cd /mnt/t32 && sh ./guest-run.sh)
  sync
  umount /mnt/t32
else
  echo "guest32: no disk with a run script"
fi
mount -o remount,ro / 2>/dev/null
sync
echo "guest32: power off"
echo o > /proc/sysrq-trigger
sleep 60
