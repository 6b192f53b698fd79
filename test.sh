#!/usr/bin/env bash
# Builds everything and runs every test. With CI=true warnings are errors, the
# engine tests run a second time under AddressSanitizer and UBSan, and each fuzz
# target runs for a minute (fuzz/run.sh).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages

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

    echo "== fuzz targets, 60 s each"
    fuzz/run.sh 60
fi
