#!/bin/sh
# Builds the receive-path fuzzer with clang-14 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in its own build folder and runs it for a bounded
# time. Exit code 0: no crash found; otherwise the crashing input is kept in the
# build folder (crash-*) and the exit code is libFuzzer's.
#
#   Modules/Ostrel/test/fuzz/run-fuzz.sh [seconds] [build folder]
#
# Defaults: 60 seconds, build-fuzz under the repository root.
set -eu

seconds="${1:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../../.." && pwd)"
build="${2:-$root/build-fuzz}"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVEXA_SANITIZE=address,undefined \
  -DVEXA_BUILD_FUZZERS=ON -DVEXA_BUILD_TESTING=OFF -DVEXA_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j4 --target OstrelReceiveFuzzer

# Seeds: well-formed messages of several types, so that the search starts
# inside the protocol rather than at its door.
corpus="$build/ostrel-fuzz-corpus"
mkdir -p "$corpus"
if [ -z "$(ls -A "$corpus")" ]; then
  OSTREL_FUZZ_WRITE_SEEDS="$corpus" "$build/bin/OstrelReceiveFuzzer" -runs=0 >/dev/null 2>&1 || true
fi

# Leak checks stay with the sanitized unit tests: OpenIGTLink 1.11 leaks on every
# CAPABILITY, NDARRAY, BIND and POLYDATA message (see tools/sanitizers/lsan.supp), which would
# make libFuzzer stop for a full leak scan after nearly every such input.
cd "$build"
exec "$build/bin/OstrelReceiveFuzzer" "$corpus" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -detect_leaks=0 -print_final_stats=1
