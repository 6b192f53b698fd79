#!/usr/bin/env bash
# fuzz/run.sh [SECONDS]: builds the fuzz targets in build-fuzz (clang, libFuzzer,
# AddressSanitizer and UBSan), makes their seed corpora in build-fuzz/corpus and
# runs each target for SECONDS (default 60), one after the other. Prints the
# executions per second and the corpus size of each; exits 1 when a target found
# a crash, a hang (over 10 s on one input) or ran out of memory, with the input
# that did it in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
source scripts/ensure-packages.sh
ensure_packages clang libclang-rt-14-dev

flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARON_FUZZ=ON)
if [ "${CI:-}" = true ]; then
    flags+=(-DKELVARON_WERROR=ON)
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz "${flags[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc)"
build-fuzz/bin/kelvaron-fuzz-seeds build-fuzz/corpus

# The targets' scratch folders go below one folder of this run, so that a target
# that stops on a finding leaves nothing behind.
scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp )/kelvaron-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

status=0
summary=()
for target in fuzz_jpeg fuzz_list fuzz_picset fuzz_png fuzz_tiff; do
    corpus=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    log=build-fuzz/$target.log
    mkdir -p "$findings"
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$findings/")
    if [ -f "fuzz/${target#fuzz_}.dict" ]; then
        args+=(-dict="fuzz/${target#fuzz_}.dict")
    fi
    echo "== $target for $seconds s (log: $log)"
    if build-fuzz/bin/"$target" "${args[@]}" "$corpus" >"$log" 2>&1; then
        result=ok
    else
        result="FINDING: see $log and $findings/"
        status=1
        tail -n 40 "$log"
    fi
    execs=$(awk '/stat::average_exec_per_sec/ { print $2 }' "$log")
    files=$(find "$corpus" -type f | wc -l)
    summary+=("$(printf '%-12s %7s exec/s  %5s corpus files  %s' "$target" "${execs:-?}" "$files" "$result")")
done
echo
printf '%s\n' "${summary[@]}"
exit $status
