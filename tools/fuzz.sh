#!/usr/bin/env bash
# Fuzzes the WAV reader for a bounded time: the plug-in's own WaveFile.cpp and
# the harness in tests/ built natively by clang with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer (any finding aborts and fails this script).
#   tools/fuzz.sh <build folder> <seconds>
# The saved corpus in tests/wav_fuzz_corpus is read, never written; inputs the
# run finds go to <build folder>/corpus. To keep the useful ones, minimise them
# into the saved corpus:
#   <build folder>/wav_fuzz -merge=1 tests/wav_fuzz_corpus <build folder>/corpus
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: fuzz.sh <build folder> <seconds>}
seconds=${2:-60}
mkdir -p "$build/corpus" "$build/findings"

echo "== building the WAV reader fuzzer (clang, libFuzzer, ASan, UBSan)"
clang++ -std=c++17 -g -O1 -DTV_LIBFUZZER \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/handset" \
  "$root/handset/audio/WaveFile.cpp" "$root/tests/wav_fuzz_harness.cpp" \
  -o "$build/wav_fuzz"

echo "== fuzzing the WAV reader for $seconds s"
"$build/wav_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 \
  "$build/corpus" "$root/tests/wav_fuzz_corpus"
