#!/usr/bin/env bash
# Fuzzes the readers with libFuzzer (clang), with AddressSanitizer and
# UndefinedBehaviorSanitizer on.
#   scripts/fuzz.sh                 every target, 600 seconds each
#   scripts/fuzz.sh profile 60      one target (tests/fuzz/fuzz_<name>.cpp) for 60 seconds
# New inputs collect in build-fuzz/corpus/<name>/ (seeded from
# tests/fuzz/corpus/<name>/); crashes are written to build-fuzz/crashes/.
# Add a crashing input to tests/fuzz/corpus/<name>/ once it is fixed, so the
# normal test run keeps replaying it.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
target="${1:-all}"
seconds="${2:-600}"

if ! command -v clang++ >/dev/null || [[ ! -d /usr/lib/llvm-14/lib/clang ]]; then
    SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO="sudo"
    $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi
# The packages once; runs side by side must not queue on the package lock.
[[ -f build-fuzz/CMakeCache.txt ]] || scripts/setup-deps.sh --tests
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSALY_FUZZ=ON -DTESSALY_BUILD_BENCH=OFF -DTESSALY_BUILD_TESTS=ON >/dev/null

if [[ "$target" == "all" ]]; then
    targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')
else
    targets="$target"
fi
mkdir -p build-fuzz/crashes
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:detect_odr_violation=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for t in $targets; do
    # Runs side by side share the build folder: one build at a time.
    flock build-fuzz/.build-lock cmake --build build-fuzz -j2 --target "fuzz_$t" >/dev/null
    mkdir -p "build-fuzz/corpus/$t"
    cp -n "tests/fuzz/corpus/$t"/* "build-fuzz/corpus/$t/" 2>/dev/null || true
    echo "== $t: $seconds s"
    # Absolute paths: a target may change its working folder.
    "$root/build-fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -timeout=30 \
        -rss_limit_mb=4096 -artifact_prefix="$root/build-fuzz/crashes/$t-" -print_final_stats=1 \
        "$root/build-fuzz/corpus/$t" 2>&1 | grep -E '^#[0-9]+.*(DONE|pulse)|stat::|ERROR|invariant|SUMMARY' | tail -12
done
