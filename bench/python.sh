#!/usr/bin/env bash
# What evaluating planes held in a numpy array costs against the command line's
# evaluate of a picture set of the same planes. Each round runs, in an order that
# changes from round to round and each right after a throwaway process has filled
# some memory:
#   C  one `kelvaron-eval-cli evaluate --table` process on the picture set, timed
#      as a whole;
#   A  one python3 process that reads the planes (np.load, not timed), then times
#      kelvaron.evaluate(planes) and Result.write(points, table=...): the same files.
# It prints, per stack, the median and worst of C and A, and A as a share of C
# taken within a round, median and worst; the files of A and C are compared once.
#
# Usage: bench/python.sh
# Environment:
#   ROUNDS=N      rounds (7)
#   DIRTY_MIB=N   memory the throwaway process fills before each run (512; 0: none)
# The stacks are generated once into build-bench/bench-stacks/array-*/ and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

source bench/lib.sh

rounds=${ROUNDS:-7}
python=/usr/bin/python3
[ -x "$python" ] || python=python3

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARON_BUILD_UI=OFF \
    -DKELVARON_BUILD_TESTS=OFF -DKELVARON_BUILD_PYTHON=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target kelvaron-eval-cli kelvaron-make-sample kelvaron \
    >/dev/null
cli="$build/bin/kelvaron-eval-cli"
export PYTHONPATH="$PWD/$build/python"

# A dense stack (a dot every 30 pixels, JPEG quality 90) and a sparse one.
declare -A options=([dense]="--spacing 30 --dot-radius 5 --blur 1 --noise 2 --quality 90"
    [sparse]="--spacing 40")
declare -A label=([dense]="4000 x 3000, dense (spacing 30, q90)"
    [sparse]="4000 x 3000, sparse (spacing 40)")

out=$(mktemp -d "${TMPDIR:-/tmp}/kelvaron-python.XXXXXX")
trap 'rm -rf "$out"' EXIT



# The array run: prints its seconds.
array_run() {
    "$python" - "$1" "$2" <<'EOF'
import sys, time
import numpy as np
import kelvaron
planes = np.load(sys.argv[1])
start = time.perf_counter()
result = kelvaron.evaluate(planes)
result.write(sys.argv[2] + ".txt", table=sys.argv[2] + ".csv")
print(time.perf_counter() - start)
EOF
}

stats() { # median and worst of the numbers on stdin
    sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f\n", v[int((NR + 1) / 2)], v[NR] }'
}

for stack in dense sparse; do
    folder="$build/bench-stacks/array-$stack"
    if [ ! -f "$folder/planes.npy" ]; then
        rm -rf "$folder"
        # shellcheck disable=SC2086
        "$build/bin/kelvaron-make-sample" --out "$folder" --width 4000 --height 3000 \
            ${options[$stack]} >/dev/null
        "$cli" save-set -q "$folder/sample.txt" "$folder/set.bbf" >/dev/null
        "$python" -c "import sys, numpy as np, kelvaron; np.save(sys.argv[2], kelvaron.load(sys.argv[1]))" \
            "$folder/set.bbf" "$folder/planes.npy"
    fi
    : >"$out/c" && : >"$out/a" && : >"$out/ratio"
    for ((round = 1; round <= rounds; ++round)); do
        order=(C A)
        ((round % 2 == 0)) && order=(A C)
        for run in "${order[@]}"; do
            dirty_memory
            if [ "$run" = C ]; then
                clock_us start
                "$cli" evaluate -q --table "$out/cli.csv" "$folder/set.bbf" "$out/cli.txt" \
                    >/dev/null 2>"$out/stderr" || { cat "$out/stderr" >&2; fail "evaluate failed"; }
                clock_us end
                c=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (e - s) / 1e6 }')
            else
                a=$(array_run "$folder/planes.npy" "$out/array") || fail "the array run failed"
            fi
        done
        echo "$c" >>"$out/c"
        echo "$a" >>"$out/a"
        awk -v a="$a" -v c="$c" 'BEGIN { printf "%.4f\n", a / c }' >>"$out/ratio"
    done
    for ext in txt bmp csv; do
        cmp -s "$out/cli.$ext" "$out/array.$ext" || fail "the array's .$ext differs from evaluate's"
    done
    read -r cm cw < <(stats <"$out/c")
    read -r am aw < <(stats <"$out/a")
    read -r rm rw < <(stats <"$out/ratio")
    echo "${label[$stack]}, $rounds rounds (median, worst):"
    echo "  C evaluate --table of the picture set   $cm s  $cw s"
    echo "  A kelvaron.evaluate(planes) + write     $am s  $aw s"
    echo "  A / C within a round                    $rm    $rw   (files identical)"
done
