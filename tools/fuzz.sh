#!/usr/bin/env bash
# Fuzzes the two parsers of bytes from outside the process for a bounded time
# each: the WAV reader (handset/audio/WaveFile.cpp) and the handset's line
# decoder (handset/core/LineDecoder.cpp), each with its harness in tests/,
# built natively by clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Any finding stops that fuzzer, leaves the input
# in <build folder>/findings/ and fails this script.
#   tools/fuzz.sh <build folder> <seconds per fuzzer>
# The saved corpora (tests/<name>_fuzz_corpus) are read, never written; inputs
# a run finds go to <build folder>/<name>/corpus. To keep the useful ones,
# minimise them into the saved corpus:
#   <build folder>/<name>_fuzz -merge=1 tests/<name>_fuzz_corpus <build folder>/<name>/corpus
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: fuzz.sh <build folder> <seconds per fuzzer>}
seconds=${2:-60}
mkdir -p "$build/findings"

# build_fuzzer NAME SOURCE...
build_fuzzer() {
  local name=$1; shift
  echo "== building the $name fuzzer (clang, libFuzzer, ASan, UBSan)"
  clang++ -std=c++17 -g -O1 -DTV_LIBFUZZER \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/handset" "$@" -o "$build/${name}_fuzz"
}

# run_fuzzer NAME MAX_LEN [libFuzzer options...]: prints the run's figures.
run_fuzzer() {
  local name=$1 max_len=$2; shift 2
  local log=$build/$name/fuzz.log rc=0
  mkdir -p "$build/$name/corpus"
  echo "== fuzzing the $name parser for $seconds s"
  "$build/${name}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -artifact_prefix="$build/findings/${name}-" -print_final_stats=1 "$@" \
    "$build/$name/corpus" "$root/tests/${name}_fuzz_corpus" >"$log" 2>&1 || rc=$?
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" \
    | sed 's/^/   /' || true
  if [ $rc -ne 0 ]; then
    echo "   FINDING in the $name parser (exit $rc); the input is in $build/findings/:"
    grep -E 'broken invariant|ERROR|runtime error|SUMMARY' "$log" | head -5 | sed 's/^/   /'
    return 1
  fi
  echo "   no finding; corpus now $(ls "$build/$name/corpus" | wc -l) found + $(ls "$root/tests/${name}_fuzz_corpus" | wc -l) saved inputs"
}

build_fuzzer wav "$root/handset/audio/WaveFile.cpp" "$root/tests/wav_fuzz_harness.cpp"
build_fuzzer line "$root/handset/core/LineDecoder.cpp" "$root/tests/line_fuzz_harness.cpp"
rc=0
run_fuzzer wav 4096 || rc=1
run_fuzzer line 1024 -dict="$root/tests/line_fuzz.dict" || rc=1
exit $rc
