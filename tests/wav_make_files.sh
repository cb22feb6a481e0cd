#!/bin/sh
# Makes the WAV files of the reader suite with outside tools, before the suite
# runs: sox for the formats (8-bit, 16-bit, stereo, 44.1 kHz, extensible,
# A-law/u-law with an 18-byte format chunk and a fact chunk, float, 4
# channels) and libsndfile for a file with a LIST chunk after the samples.
# Every file holds 0.1 s of a tone; dither is off so the bytes repeat.
set -eu
out=$1
mkdir -p "$out"
rm -rf "$out"/*.wav "$out/ours"

tone() { name=$1; shift; sox -D -n "$@" "$out/$name" synth 0.1 sine 440; }

tone sox_pcm16_mono_8k.wav -r 8000 -b 16 -c 1
tone sox_pcm8_mono_8k.wav -r 8000 -b 8 -c 1
tone sox_pcm16_stereo_8k.wav -r 8000 -b 16 -c 2
tone sox_pcm16_mono_44k.wav -r 44100 -b 16 -c 1
tone sox_extensible_pcm24_stereo_44k.wav -r 44100 -b 24 -c 2
tone sox_ulaw_mono_8k.wav -r 8000 -e u-law -c 1
tone sox_alaw_mono_8k.wav -r 8000 -e a-law -c 1
tone sox_float32_mono_8k.wav -r 8000 -b 32 -e floating-point -c 1
tone sox_pcm16_quad_8k.wav -r 8000 -b 16 -c 4

sndfile-metadata-set --str-title "prompt" --str-comment "queue 7 greeting" \
  "$out/sox_pcm16_mono_8k.wav" "$out/sndfile_trailing_list.wav" >/dev/null
