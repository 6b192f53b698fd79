#!/usr/bin/env bash
# Times a batch of poses as users meet it: one fresh process per run, round after
# round. Each round runs, in an order that changes from round to round and each
# right after a throwaway process has filled some memory:
#   S  the poses one after the other, one `evaluate --table` process each (a shell
#      loop), timed as a whole;
#   B  one `batch --table` process on all of them;
#   R  the same batch with --report.
# It prints, per stack, the median and worst of S, B and R; B as a share of S and
# what --report adds to B, each taken within a round, median and worst of the
# rounds; and the peak memory of a batch against (poses in flight) × (the largest
# peak of one evaluate) + 64 MiB.
#
# Usage: bench/batch.sh
# Environment:
#   ROUNDS=N      rounds (5)
#   POSES=N       poses per batch (8)
#   DIRTY_MIB=N   memory the throwaway process fills before each run (512; 0: none)
# The poses are generated once into build-bench/bench-stacks/batch-*/ and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

source bench/lib.sh

rounds=${ROUNDS:-5}
poses=${POSES:-8}
in_flight=$(($(nproc) + 1)) # the batch's choice on more than one core
(($(nproc) > 1)) || in_flight=1

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARON_BUILD_UI=OFF \
    -DKELVARON_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kelvaron-eval-cli kelvaron-make-sample >/dev/null
cli="$build/bin/kelvaron-eval-cli"
make_sample="$build/bin/kelvaron-make-sample"

# The stacks: a dense one (a dot every 30 pixels, JPEG quality 90) and a sparse one.
declare -A options=([dense]="--spacing 30 --dot-radius 5 --blur 1 --noise 2 --quality 90"
    [sparse]="--spacing 40")
declare -A label=([dense]="4000 x 3000, dense (spacing 30, q90)" [sparse]="4000 x 3000, sparse (spacing 40)")

out=$(mktemp -d "${TMPDIR:-/tmp}/kelvaron-batch.XXXXXX")
trap 'rm -rf "$out"' EXIT



# peak_of FILE: the largest resident size GNU time wrote into FILE, in KiB.
peak_of() {
    local kib
    kib=$(tail -n 1 "$1")
    [[ $kib =~ ^[0-9]+$ ]] || fail "no peak memory in $1: '$kib'"
    echo "$kib"
}

# The S, B and R runs of one round; elapsed_us, and peaks in KiB.
run_singles() {
    local start end list i=0 kib
    single_peak=0
    rm -rf "$out/single" && mkdir "$out/single"
    clock_us start
    for list in "${lists[@]}"; do
        i=$((i + 1))
        /usr/bin/time -f %M -o "$out/peak" "$cli" evaluate -q --table "$out/single/p$i.csv" \
            "$list" "$out/single/p$i.txt" >/dev/null 2>"$out/stderr" ||
            { cat "$out/stderr" >&2; fail "evaluate $list failed"; }
        kib=$(peak_of "$out/peak")
        ((kib <= single_peak)) || single_peak=$kib
    done
    clock_us end
    elapsed_us=$((end - start))
}

run_batch() {
    local start end
    rm -rf "$out/batch"
    clock_us start
    /usr/bin/time -f %M -o "$out/peak" "$cli" batch -q --table "$@" "${lists[@]}" \
        --out "$out/batch" >/dev/null 2>"$out/stderr" ||
        { cat "$out/stderr" >&2; fail "batch failed"; }
    clock_us end
    elapsed_us=$((end - start))
    batch_peak=$(peak_of "$out/peak")
    [ "$(grep -c ',ok,' "$out/batch/summary.csv")" -eq "$poses" ] || fail "batch did not do every pose"
}

echo "| stack | $poses evaluate --table one after the other median / worst (s) | batch --table median / worst (s) | batch / singles, same round, median / worst | batch --report median (s) | --report adds, same round, median / worst | peak batch / bound (MiB) |"
echo "|---|---|---|---|---|---|---|"
for stack in dense sparse; do
    lists=()
    for ((p = 1; p <= poses; ++p)); do
        folder="$build/bench-stacks/batch-$stack/pose$p"
        if [ ! -f "$folder/stack.txt" ]; then
            echo "Generating pose $p of the $stack batch ..." >&2
            # shellcheck disable=SC2086 # the options are words
            "$make_sample" --out "$folder" --name stack --width 4000 --height 3000 \
                --seed $((3000 + p)) --jitter 0.6 ${options[$stack]} >/dev/null ||
                fail "kelvaron-make-sample could not generate $folder"
        fi
        lists+=("$folder/stack.txt")
    done
    singles=() batches=() reports=() peaks_single=() peaks_batch=()
    for ((round = 0; round < rounds; ++round)); do
        case $((round % 3)) in
        0) order="S B R" ;;
        1) order="B R S" ;;
        2) order="R S B" ;;
        esac
        for kind in $order; do
            dirty_memory
            case $kind in
            S)
                run_singles
                singles+=("$elapsed_us") peaks_single+=("$single_peak")
                ;;
            B)
                run_batch
                batches+=("$elapsed_us") peaks_batch+=("$batch_peak")
                ;;
            R)
                run_batch --report
                reports+=("$elapsed_us") peaks_batch+=("$batch_peak")
                ;;
            esac
        done
    done
    awk -v label="${label[$stack]}" -v s="${singles[*]}" -v b="${batches[*]}" -v r="${reports[*]}" \
        -v ps="${peaks_single[*]}" -v pb="${peaks_batch[*]}" -v flight="$in_flight" '
        function sorted(text, out,   n, i, j, t) {
            n = split(text, out, " ")
            for (i = 2; i <= n; ++i)
                for (j = i; j > 1 && out[j - 1] + 0 > out[j] + 0; --j) {
                    t = out[j]; out[j] = out[j - 1]; out[j - 1] = t
                }
            return n
        }
        BEGIN {
            # Ratios of the same round, then sorted.
            split(s, s0, " "); split(b, b0, " "); split(r, r0, " ")
            for (i = 1; i in s0; ++i) {
                rb = rb " " b0[i] / s0[i]; rr = rr " " r0[i] / b0[i]
            }
            sorted(rb, RB); sorted(rr, RR)
            n = sorted(s, S); sorted(b, B); sorted(r, R); m = int((n + 1) / 2)
            k = sorted(ps, PS); l = sorted(pb, PB)
            bound = flight * PS[k] / 1024 + 64
            printf "| %s | %.2f / %.2f | %.2f / %.2f | %.2f / %.2f | %.2f | %+.1f %% / %+.1f %% | %.0f / %.0f |\n",
                label, S[m] / 1e6, S[n] / 1e6, B[m] / 1e6, B[n] / 1e6, RB[m], RB[n], R[m] / 1e6,
                100 * (RR[m] - 1), 100 * (RR[n] - 1), PB[l] / 1024, bound
        }'
done
