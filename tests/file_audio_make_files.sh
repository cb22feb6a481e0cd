#!/bin/sh
# Makes the prompts of the playback suite with outside tools, before the
# suite runs: a 6 s tone as sox writes it (more than the two opening blocks,
# so refills follow), the same with a LIST chunk after the samples as
# libsndfile adds it, and the raw sample bytes sox reads out of the first,
# which is what the device must receive. Dither is off so the bytes repeat.
set -eu
out=$1
mkdir -p "$out"
rm -rf "$out"/*.wav "$out"/*.raw "$out/ours"
mkdir -p "$out/ours"

sox -D -n -r 8000 -b 16 -c 1 "$out/sox_prompt.wav" synth 6 sine 440 vol 0.5
sndfile-metadata-set --str-title "prompt" --str-comment "press 1 for sales" \
  "$out/sox_prompt.wav" "$out/sndfile_prompt_with_list.wav" >/dev/null
sox "$out/sox_prompt.wav" -t raw "$out/sox_prompt.raw"
