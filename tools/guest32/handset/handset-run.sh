# The real-stack handset run, inside the 32-bit guest (a line of runs.txt):
#   sh handset-run.sh HOST.exe ARGS...
# in the folder that holds handsetd, the test host and the shipped plug-in.
# Loads the modules of the kernel handset, gives ALSA the handset's named
# PCMs and runs the host under Wine beside handsetd (see handsetd.c). Only
# this run sees a handset: the gadget is made and removed by handsetd, and
# the sound card goes again at the end.
set -u
modprobe dummy_hcd num=2 && modprobe -a libcomposite usb_f_hid usbhid hid_generic &&
  modprobe snd_aloop || { echo "handset-run: kernel modules missing"; exit 3; }
mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
# The handset's earpiece and microphone as Wine lists them from its ALSA
# device registry: device 0 of the Loopback card, converted to the one
# format handsetd uses on device 1, whatever format Wine asks for.
cat > /root/.asoundrc <<'ALSA'
pcm."Headset (C-Media USB Headphone Set  )" {
  type asym
  playback.pcm { type plug slave { pcm "hw:Loopback,0,0" format S16_LE rate 8000 channels 1 } }
  capture.pcm { type plug slave { pcm "hw:Loopback,0,0" format S16_LE rate 8000 channels 1 } }
}
ALSA
udevadm settle --timeout=30
# Every process of the guest on its first CPU: the reader of the feature
# reports, at real-time priority, then runs the moment a report arrives,
# before the sender can send the next one, which the gadget would otherwise
# let overwrite it (see hidside.c). On two CPUs the reader waited for the
# other emulated CPU to be scheduled and reports were lost.
for p in /proc/[0-9]*; do taskset -a -p 1 "${p#/proc/}" >/dev/null 2>&1; done
taskset 1 ./handsetd -- wine "$@"
rc=$?
rm -f /root/.asoundrc
modprobe -r snd_aloop 2>/dev/null
exit $rc
