#!/usr/bin/env bash
# Builds the benchmarks in Release, runs them once and prints the figures as a
# table: bare libjpeg-turbo decoding of the 17 photographs against LoadPictures and
# Evaluate on 1 thread and on all cores, for three picture sizes; the point scan
# with 16,384 codes against 100; the peak memory of the command-line tool; and
# what the point table (evaluate --table) adds to a whole evaluate process.
#
# Usage: bench/run.sh [extra Google Benchmark arguments]
# The generated stacks are kept in build-bench/bench-stacks and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARON_BUILD_UI=OFF \
    -DKELVARON_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kelvaron-bench kelvaron-eval-cli >/dev/null

results=$(mktemp)
trap 'rm -f "$results"' EXIT
echo "Running the benchmarks (the first run also generates the stacks) ..." >&2
"$build/bin/kelvaron-bench" --benchmark_format=csv "$@" 2>/dev/null >"$results"

# Peak memory of one evaluation by the command-line tool, per stack.
declare -A peak
for stack in small dots10k large; do
    list="$build/bench-stacks/$stack/stack.txt"
    out=$(mktemp -d)
    line=$("$build/bin/kelvaron-eval-cli" evaluate -q --timings "$list" "$out/points.txt" 2>&1 >/dev/null |
        grep -o 'peak memory [0-9]* MiB' || true)
    rm -rf "$out"
    peak[$stack]=${line#peak memory }
done

# The point table's cost as users meet it: whole kelvaron-eval-cli processes on the
# 4000 x 3000 stack, plain evaluate against evaluate --table, one of each per round,
# the order alternating so that neither always runs on the cache the other left.
# Wall-clock per process, in microseconds; median and worst of the rounds.
table_rounds=7
table_line=""
table_list="$build/bench-stacks/dots10k/stack.txt"
if [ -f "$table_list" ]; then
    if [ -w /dev/shm ]; then
        table_out=$(mktemp -d /dev/shm/kelvaron-table.XXXXXX)
    else
        table_out=$(mktemp -d)
    fi
    trap 'rm -f "$results"; rm -rf "$table_out"' EXIT
    cli="$build/bin/kelvaron-eval-cli"
    # Microseconds one evaluate process takes; its arguments follow the list and
    # the points file.
    time_evaluate() {
        local start end
        start=$(date +%s%N)
        "$cli" evaluate -q "$table_list" "$table_out/points.txt" "$@" >/dev/null || return 1
        end=$(date +%s%N)
        echo $(((end - start) / 1000))
    }
    plain_us=() table_us=()
    for ((round = 0; round < table_rounds; ++round)); do
        if ((round % 2 == 0)); then
            plain_us+=("$(time_evaluate)")
            table_us+=("$(time_evaluate --table "$table_out/table.csv")")
        else
            table_us+=("$(time_evaluate --table "$table_out/table.csv")")
            plain_us+=("$(time_evaluate)")
        fi
    done
    table_rows=$(($(wc -l <"$table_out/table.csv") - 1))
    table_line=$(printf '%s\n' "${plain_us[@]}" | sort -n | tr '\n' ' ')
    table_line+=";"$(printf '%s\n' "${table_us[@]}" | sort -n | tr '\n' ' ')
    rm -rf "$table_out"
fi

awk -F, -v small="${peak[small]}" -v mid="${peak[dots10k]}" -v large="${peak[large]}" \
    -v rounds="$table_rounds" -v process="$table_line" -v rows="${table_rows:-0}" '
    # Rows: "name",iterations,real_time,cpu_time,time_unit,... for the "_min" aggregates.
    /_min"/ {
        name = $1; gsub(/"/, "", name); sub(/\/repeats:[0-9]+\/real_time_min$/, "", name)
        time[name] = $3
    }
    function ratio(a, b) { return (b > 0) ? sprintf("%.3f", a / b) : "-" }
    END {
        split("small dots10k large", stacks, " ")
        size["small"] = "1280 x 960"; size["dots10k"] = "4000 x 3000"; size["large"] = "8000 x 6000"
        mem["small"] = small; mem["dots10k"] = mid; mem["large"] = large
        printf "| stack | decode baseline (ms) | LoadPictures 1 thread | LoadPictures all | Evaluate 1 thread | Evaluate all | peak memory of evaluate / bound (MiB) |\n"
        printf "|---|---|---|---|---|---|---|\n"
        for (i = 1; i <= 3; ++i) {
            s = stacks[i]; base = time["BM_DecodeBaseline/" s]
            l1 = time["BM_LoadPictures/" s "/threads:1"]; la = time["BM_LoadPictures/" s "/threads:0"]
            e1 = time["BM_Evaluate/" s "/threads:1"]; ea = time["BM_Evaluate/" s "/threads:0"]
            split(size[s], wh, " x "); pixels = wh[1] * wh[2]
            bound = (17 + 4 + 6) * pixels / 1048576 + 64
            printf "| %s | %.0f | %.0f ms = %s x | %.0f ms = %s x | %.1f ms = %s x | %.1f ms = %s x | %s / %.0f |\n",
                size[s], base, l1, ratio(l1, base), la, ratio(la, base), e1, ratio(e1, base), ea, ratio(ea, base),
                mem[s], bound
        }
        many = time["BM_PointScan/codes16k/threads:1"]; few = time["BM_PointScan/codes100/threads:1"]
        printf "\nPoint scan, 4000 x 3000, 16,384 dots, one thread: 16,384 codes %.2f ms, 100 codes %.2f ms, ratio %s\n",
            many, few, ratio(many, few)
        printf "Code matrix, 4000 x 3000: %.1f ms on one thread, %.1f ms on all\n",
            time["BM_CalcMatrix/dots10k/threads:1"], time["BM_CalcMatrix/dots10k/threads:0"]
        r1 = time["BM_RefineCentres/dots10k/threads:1"]; ra = time["BM_RefineCentres/dots10k/threads:0"]
        ea = time["BM_Evaluate/dots10k/threads:0"]
        printf "Refined centres, 4000 x 3000, in process: %.1f ms on one thread, %.1f ms on all = %s x Evaluate on all (%.1f ms)\n",
            r1, ra, ratio(ra, ea), ea
        # process: the sorted microseconds of the plain runs, ";", those with --table.
        if (process != "") {
            split(process, halves, ";")
            n = split(halves[1], plain, " "); split(halves[2], table, " ")
            m = int((n + 1) / 2)
            printf "Point table, 4000 x 3000, whole process, %d rounds, %d rows: evaluate median %.0f ms (worst %.0f), with --table median %.0f ms (worst %.0f): %+.1f %% (median ratio %s)\n",
                rounds, rows, plain[m] / 1000, plain[n] / 1000, table[m] / 1000, table[n] / 1000,
                100 * (table[m] / plain[m] - 1), ratio(table[m], plain[m])
        } else
            printf "Point table, whole process: no 4000 x 3000 stack (the benchmarks made none)\n"
    }' "$results"
