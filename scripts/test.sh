#!/usr/bin/env bash
# Sets up, builds and runs every test.
#   scripts/test.sh              the normal build in build/
#   scripts/test.sh --sanitize   the whole suite under AddressSanitizer and
#                                UndefinedBehaviorSanitizer, built in build-sanitize/
# Three tests run at a time on two cores: most integration tests spend their
# time waiting on their peers' real timing, not computing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh --tests
if [[ "${1:-}" == "--sanitize" ]]; then
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_BUILD_TESTS=ON \
          -DTESSALY_BUILD_BENCH=OFF -DTESSALY_SANITIZE=ON >/dev/null
    cmake --build build-sanitize -j2
    # Webwire and Novaprobe carry their own copies of the log and platform
    # layers, so those globals exist once in each library and once in the
    # program: not a fault, and not reported.
    export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_odr_violation=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    ctest --test-dir build-sanitize --output-on-failure -j3
    exit
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_BUILD_TESTS=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j3
