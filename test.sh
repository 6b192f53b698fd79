#!/usr/bin/env bash
# Builds everything and runs every test. With CI=true warnings are errors, the
# engine tests run a second time under AddressSanitizer and UBSan and a third time
# under ThreadSanitizer (built with clang), and each fuzz target runs for a minute
# (fuzz/run.sh). A locale with a decimal comma is generated if none is installed;
# under CI=true FormatCentre.IgnoresTheLocale fails without one instead of skipping.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages
ensure_comma_locale

jobs=$(nproc)
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${CI:-}" = true ]; then
    flags+=(-DKELVARON_WERROR=ON)
fi

cmake -S . -B build "${flags[@]}" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${CI:-}" = true ]; then
    echo "== engine tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    cmake -S . -B build-asan "${flags[@]}" -DKELVARON_SANITIZE=ON \
        -DKELVARON_BUILD_UI=OFF -DKELVARON_BUILD_BENCH=OFF >/dev/null
    cmake --build build-asan -j "$jobs" --target engine_tests
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j "$jobs" -L engine

    echo "== engine tests under ThreadSanitizer"
    # clang, because GCC's TSan cannot start a program with target_clones functions
    # (see CMakeLists.txt). Any report stops the test with exit status 66.
    ensure_packages clang libclang-rt-14-dev
    CC=clang CXX=clang++ cmake -S . -B build-tsan "${flags[@]}" -DKELVARON_TSAN=ON \
        -DKELVARON_BUILD_UI=OFF -DKELVARON_BUILD_BENCH=OFF >/dev/null
    cmake --build build-tsan -j "$jobs" --target engine_tests
    TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
        ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L engine

    echo "== fuzz targets, 60 s each"
    fuzz/run.sh 60
fi
