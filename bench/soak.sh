#!/usr/bin/env bash
# Soak test of the command-line tool, not part of the default suite. Generates
# sample stacks of mixed sizes, damages a share of them, evaluates each one with
# kelvaron-eval-cli and checks:
#   - a good stack evaluates (exit 0), gives byte for byte the same points file and
#     BMP as a second run on one thread, and matches its ground truth
#     (kelvaron-check-points exit 0);
#   - a damaged stack makes the tool exit 1 with a message on stderr, and no output
#     file appears (not even a temporary one).
# Prints every failure, the counts per kind of stack, the largest peak memory of an
# evaluation and the time taken. Exits 1 when anything failed.
#
# Usage: bench/soak.sh [--stacks N] [--jobs N] [--seed N] [--keep]
#   --stacks N  stacks to generate (200)
#   --jobs N    stacks handled at once (the number of cores)
#   --seed N    varies every stack's parameters (1)
#   --keep      keep the scratch folder (it is always kept when something failed)
# The tools come from $KELVARON_BIN when set, else from build/bin when it holds
# them, else they are built in build-soak.
set -euo pipefail

readonly kSizes=(160x120 176x144 320x240 333x217 400x300 512x384 640x480 800x600 1024x768 1280x960)
readonly kSpacings=(8 10 12 16 20 24 32 40)
readonly kTints=("1,0.8,0.6" "0.7,1,0.9" "0.9,0.9,1" "1,0.5,0.5")
readonly kDamages=(missing-photo truncated-jpeg text-as-jpeg list-16 other-size empty-list
    empty-jpeg)
readonly kTimeout=120 # seconds any one command may take

# A pseudo-random number for stack i and purpose p, the same on every run.
mix() {
    local h=$(((SOAK_SEED * 1000003 + $1 * 7919 + $2 * 104729) & 0x7fffffff))
    h=$(((h ^ (h >> 13)) * 1103515245 & 0x7fffffff))
    echo $(((h ^ (h >> 16)) & 0x7fffffff))
}

# Handles stack i; writes one line to results/i:
#   "pass good|bad KIND PEAK_MIB DESCRIPTION" or "FAIL good|bad KIND - DESCRIPTION: reason".
worker() {
    local i=$1
    local dir="$SOAK_DIR/stacks/$i"
    local size=${kSizes[$(($(mix "$i" 1) % ${#kSizes[@]}))]}
    local width=${size%x*} height=${size#*x}
    local spacing=${kSpacings[$(($(mix "$i" 2) % ${#kSpacings[@]}))]}
    local shorter=$((width < height ? width : height))
    while ((spacing > 8 && spacing * 5 > shorter)); do
        spacing=$((spacing / 2 > 8 ? spacing / 2 : 8))
    done
    local seed=$(($(mix "$i" 3) % 100000 + 1))
    local quality=$((75 + $(mix "$i" 4) % 25))
    local options=(--width "$width" --height "$height" --spacing "$spacing" --seed "$seed"
        --quality "$quality" --threads 1)
    local look=colour
    case $(($(mix "$i" 5) % 6)) in
    0 | 1) options+=(--grey-jpeg) look=grey ;;
    2) options+=(--tint "${kTints[$(($(mix "$i" 6) % ${#kTints[@]}))]}") look=tinted ;;
    3) options+=(--chroma-444) look=colour-444 ;;
    esac
    local kind=good damage=-
    if ((i % 4 == 3)); then
        kind=bad
        damage=${kDamages[$((i / 4 % ${#kDamages[@]}))]}
    fi
    local what="stack $i: ${width}x$height spacing $spacing seed $seed $look q$quality"
    [ "$kind" = bad ] && what+=" damaged: $damage"

    fail() {
        echo "FAIL $kind $damage - $what: $*" >"$SOAK_DIR/results/$i"
        exit 0
    }

    mkdir -p "$dir/out"
    timeout "$kTimeout" "$SOAK_BIN/kelvaron-make-sample" --out "$dir" --name s "${options[@]}" \
        >/dev/null 2>"$dir/make.err" || fail "the generator failed: $(head -c 300 "$dir/make.err")"
    local list="$dir/s.txt"
    local photo
    photo=$(printf '%s/s_%02d.jpg' "$dir" $(($(mix "$i" 7) % 17)))
    case $damage in
    missing-photo) rm "$photo" ;;
    truncated-jpeg) truncate -s $(($(stat -c %s "$photo") / 2)) "$photo" ;;
    text-as-jpeg) printf 'This is not a photograph.\n' >"$photo" ;;
    list-16) sed -i '$d' "$list" ;;
    other-size) cp "$SOAK_DIR/other/s_${photo: -6:2}.jpg" "$photo" ;;
    empty-list) : >"$list" ;;
    empty-jpeg) : >"$photo" ;;
    esac

    local status=0
    timeout "$kTimeout" "$SOAK_BIN/kelvaron-eval-cli" evaluate -q --timings "$list" \
        "$dir/out/points.txt" >"$dir/eval.out" 2>"$dir/eval.err" || status=$?
    if [ "$kind" = bad ]; then
        [ "$status" -eq 1 ] || fail "exit status $status instead of 1: $(head -c 300 "$dir/eval.err")"
        grep -q '[^[:space:]]' "$dir/eval.err" || fail "exit 1 without a message on stderr"
        [ -z "$(ls -A "$dir/out")" ] || fail "files were written: $(ls -A "$dir/out" | tr '\n' ' ')"
        echo "pass bad $damage - $what | $(head -n 1 "$dir/eval.err" | head -c 200)" \
            >"$SOAK_DIR/results/$i"
        rm -rf "$dir"
        return 0
    fi

    [ "$status" -eq 0 ] || fail "exit status $status: $(head -c 300 "$dir/eval.err")"
    local peak
    peak=$(grep -o 'peak memory [0-9]* MiB' "$dir/eval.err" | grep -o '[0-9]*' || true)
    [ -n "$peak" ] || fail "no peak memory in the timings: $(head -c 300 "$dir/eval.err")"
    [ -f "$dir/out/points.txt" ] && [ -f "$dir/out/points.bmp" ] ||
        fail "the points file or the BMP is missing"
    [ "$(ls -A "$dir/out" | wc -l)" -eq 2 ] || fail "stray files: $(ls -A "$dir/out" | tr '\n' ' ')"

    mkdir -p "$dir/single"
    status=0
    timeout "$kTimeout" "$SOAK_BIN/kelvaron-eval-cli" evaluate -q --threads 1 "$list" \
        "$dir/single/points.txt" >/dev/null 2>"$dir/single.err" || status=$?
    [ "$status" -eq 0 ] || fail "the run on one thread: exit status $status: $(head -c 300 "$dir/single.err")"
    cmp -s "$dir/out/points.txt" "$dir/single/points.txt" ||
        fail "the points file differs from the one of a run on one thread"
    cmp -s "$dir/out/points.bmp" "$dir/single/points.bmp" ||
        fail "the BMP differs from the one of a run on one thread"

    local check
    status=0
    check=$(timeout "$kTimeout" "$SOAK_BIN/kelvaron-check-points" "$dir/s_truth.csv" \
        "$dir/out/points.txt" 2>&1) || status=$?
    [ "$status" -eq 0 ] || fail "the ground truth is not matched (exit $status): $check"

    echo "pass good - $peak $what; $check" >"$SOAK_DIR/results/$i"
    rm -rf "$dir"
}

if [ "${1:-}" = --worker ]; then
    worker "$2"
    exit 0
fi

# ---------------------------------------------------------------------------

stacks=200
jobs=$(nproc)
seed=1
keep=false
while [ $# -gt 0 ]; do
    case $1 in
    --stacks) stacks=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --keep) keep=true; shift ;;
    *)
        sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
        exit 2
        ;;
    esac
done

cd "$(dirname "$0")/.."
readonly kTools=(kelvaron-eval-cli kelvaron-make-sample kelvaron-check-points)
have_tools() {
    local tool
    for tool in "${kTools[@]}"; do
        [ -x "$1/$tool" ] || return 1
    done
}
if [ -n "${KELVARON_BIN:-}" ]; then
    bin=$(cd "$KELVARON_BIN" && pwd)
    have_tools "$bin" || { echo "$bin lacks one of: ${kTools[*]}" >&2; exit 2; }
elif have_tools build/bin; then
    bin=$PWD/build/bin
else
    source scripts/ensure-packages.sh
    ensure_packages
    echo "Building the tools in build-soak ..." >&2
    cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARON_BUILD_UI=OFF \
        -DKELVARON_BUILD_TESTS=OFF -DKELVARON_BUILD_BENCH=OFF >/dev/null
    cmake --build build-soak -j "$(nproc)" --target "${kTools[@]}" >/dev/null
    bin=$PWD/build-soak/bin
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelvaron-soak-XXXXXX")
failed=false
finish() {
    if $keep || $failed; then
        echo "The scratch folder is kept: $scratch" >&2
    else
        rm -rf "$scratch"
    fi
}
trap finish EXIT
mkdir -p "$scratch/results" "$scratch/stacks"

export SOAK_DIR=$scratch SOAK_BIN=$bin SOAK_SEED=$seed
start=$(date +%s%N)
echo "Soak test: $stacks stacks, $jobs at once, seed $seed, tools in $bin" >&2

# Photographs of a size no stack has, to slip into a stack as "another size".
"$bin/kelvaron-make-sample" --out "$scratch/other" --name s --width 96 --height 72 \
    --spacing 8 --seed 5 >/dev/null

seq 0 $((stacks - 1)) | xargs -P "$jobs" -I{} "$PWD/bench/soak.sh" --worker {} || true
elapsed_ms=$((($(date +%s%N) - start) / 1000000))

# A worker that stopped without a word counts as a failure too.
for ((i = 0; i < stacks; ++i)); do
    [ -f "$scratch/results/$i" ] || echo "FAIL ? ? - stack $i: the check stopped without a result" \
        >"$scratch/results/$i"
done

for ((i = 0; i < stacks; ++i)); do cat "$scratch/results/$i"; done | awk \
    -v elapsed="$elapsed_ms" -v kinds="good ${kDamages[*]}" '
    {
        ++seen
        k = ($2 == "good") ? "good" : $3
        ++tried[k]
    }
    $1 == "FAIL" {
        ++failures; ++failed[k]
        line = $0; sub(/^FAIL [^ ]+ [^ ]+ - /, "", line)
        print "FAIL " line
    }
    $1 == "pass" && $2 == "bad" && !(k in example) {
        example[k] = $0; sub(/^[^|]*\| /, "", example[k])
    }
    $1 == "pass" && $2 == "good" && $4 + 0 > peak {
        peak = $4 + 0
        peakWhat = $0; sub(/^pass good - [0-9]+ /, "", peakWhat); sub(/;.*/, "", peakWhat)
    }
    END {
        printf "\n%-16s %6s %6s\n", "stacks", "tried", "failed"
        n = split(kinds, order, " ")
        for (i = 1; i <= n; ++i)
            printf "%-16s %6d %6d\n", order[i], tried[order[i]], failed[order[i]]
        printf "\nwhat the tool says, one damaged stack of each kind:\n"
        for (i = 2; i <= n; ++i)
            if (order[i] in example)
                printf "  %-14s %s\n", order[i], example[order[i]]
        if (tried["?"] > 0)
            printf "%-16s %6d %6d\n", "no result", tried["?"], failed["?"]
        printf "\n%d stacks, %d failures\n", seen, failures
        printf "largest peak memory of an evaluation: %d MiB (%s)\n", peak, peakWhat
        printf "time: %.1f s\n", elapsed / 1000
        exit failures > 0 ? 1 : 0
    }' || failed=true

if $failed; then
    echo "Soak test FAILED" >&2
    exit 1
fi
echo "Soak test passed" >&2
