#!/usr/bin/env bash
# Builds the benchmarks in Release, runs them once and prints the figures as a
# table: bare libjpeg-turbo decoding of the 17 photographs against LoadPictures and
# Evaluate on 1 thread and on all cores, for three picture sizes; the point scan
# with 16,384 codes against 100; the peak memory of the command-line tool; and
# what the point table (evaluate --table) adds to a whole evaluate process.
#
# Then it times what a user meets: one fresh process per run, round after round.
# Each round runs, in an order that changes from round to round, the decode floor
# (the 17 photographs decoded by djpeg, one process after the other; for the PNG
# stacks by libpng in one process, kelvaron-png-floor), evaluate on the stack's list
# file and evaluate on its picture set, each right after a throwaway process has
# filled some memory. A second table gives both evaluations as ratios to the floor
# of the same round, and their peak memory. The PNG stacks are 16-bit grey camera
# pictures, a sparse one and a dense one, evaluated with the point table, which
# weighs their light at full depth.
#
# Usage: bench/run.sh [extra Google Benchmark arguments]
# Environment, for the whole-process timings:
#   ROUNDS=N      rounds per stack (7)
#   STACKS=LIST   stacks to time, out of "small dots10k dense large png16 png16dense" (all;
#                 empty: none)
#   DIRTY_MIB=N   memory the throwaway process fills before each run (512; 0: none)
# The generated stacks and their picture sets are kept in build-bench/bench-stacks
# and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
# djpeg (libjpeg-turbo-progs) is in the common list; GNU time measures the peak
# memory of a whole process.
ensure_packages time

source bench/lib.sh

rounds=${ROUNDS:-7}
stacks=${STACKS-small dots10k dense large png16 png16dense}
declare -A stack_size=([small]="1280 x 960" [dots10k]="4000 x 3000" [dense]="4000 x 3000"
    [large]="8000 x 6000" [png16]="4000 x 3000" [png16dense]="4000 x 3000")
# The stacks kelvaron-make-sample writes: its options beside their size, and what
# the tables call them. The dense one has a dot every 30 pixels (13,300 dots) in
# JPEGs of quality 90; the PNG stacks are 16-bit grey.
declare -A sample_options=(
    [dense]="--spacing 30 --dot-radius 5 --blur 1 --noise 2 --quality 90"
    [png16]="--format png --grey --depth 16 --spacing 34"
    [png16dense]="--format png --grey --depth 16 --spacing 30 --dot-radius 5 --blur 1 --noise 2")
declare -A stack_label=([dots10k]="4000 x 3000, sparse" [dense]="4000 x 3000, dense"
    [png16]="4000 x 3000, 16-bit PNG, sparse" [png16dense]="4000 x 3000, 16-bit PNG, dense")
[[ $rounds =~ ^[1-9][0-9]*$ ]] || fail "ROUNDS must be a whole number from 1 on, not '$rounds'"
[[ $dirty_mib =~ ^[0-9]+$ ]] || fail "DIRTY_MIB must be a whole number of MiB, not '$dirty_mib'"
for stack in $stacks; do
    [ -n "${stack_size[$stack]:-}" ] ||
        fail "unknown stack '$stack' in STACKS (small, dots10k, dense, large, png16, png16dense)"
done
command -v djpeg >/dev/null || fail "djpeg is missing (Debian package libjpeg-turbo-progs)"

# Scratch files and folders, removed on exit.
scratch=()
cleanup() {
    ((${#scratch[@]} == 0)) || rm -rf "${scratch[@]}"
}
trap cleanup EXIT

# make_scratch VAR PREFIX: a fresh folder into VAR, in memory (/dev/shm) where the
# system has it, so that writing outputs does not keep the disk busy.
make_scratch() {
    local dir
    if [ -w /dev/shm ]; then
        dir=$(mktemp -d "/dev/shm/$2.XXXXXX")
    else
        dir=$(mktemp -d)
    fi
    scratch+=("$dir")
    printf -v "$1" '%s' "$dir"
}

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARON_BUILD_UI=OFF \
    -DKELVARON_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kelvaron-bench kelvaron-eval-cli \
    kelvaron-make-sample kelvaron-png-floor >/dev/null

cli="$build/bin/kelvaron-eval-cli"
bench="$build/bin/kelvaron-bench"
make_sample="$build/bin/kelvaron-make-sample"
png_floor="$build/bin/kelvaron-png-floor"

# Whether stack $1 is one of the PNG stacks.
is_camera() {
    [[ ${sample_options[$1]:-} == *"--format png"* ]]
}


# time_evaluate INPUT OUT [OPTION...]: one fresh `kelvaron-eval-cli evaluate -q`
# process on INPUT writing OUT/points.txt (and its bitmap), the options after.
# Sets elapsed_us (wall clock) and peak_kib (its largest resident size, from GNU
# time). A failed run, or one that leaves no points file, stops the script with the
# tool's own message.
time_evaluate() {
    local input=$1 out=$2 start end status=0
    shift 2
    rm -f "$out/points.txt" "$out/points.bmp"
    clock_us start
    /usr/bin/time -f %M -o "$out/peak" \
        "$cli" evaluate -q "$input" "$out/points.txt" "$@" >/dev/null 2>"$out/stderr" || status=$?
    clock_us end
    if ((status != 0)); then
        cat "$out/stderr" >&2
        fail "kelvaron-eval-cli evaluate $input failed (exit status $status)$(set_hint "$input")"
    fi
    [ -s "$out/points.txt" ] || fail "kelvaron-eval-cli evaluate $input wrote no points"
    elapsed_us=$((end - start))
    peak_kib=$(tail -n 1 "$out/peak")
    [[ $peak_kib =~ ^[0-9]+$ ]] || fail "no peak memory for evaluate $input: '$peak_kib'"
}

# What to do when the picture set INPUT (a .bbf) does not evaluate as it should.
set_hint() {
    [[ $1 != *.bbf ]] || echo "; if an older build saved that picture set, remove it to have it saved again"
}

# What a user meets: one fresh process per run, timed wall-clock from outside.
# Each round runs three kinds of process on a stack, each right after dirty_memory:
#   F  the decode floor: the 17 photographs decoded by djpeg, one process after the
#      other, on one thread, into /dev/null (time_floor);
#   L  kelvaron-eval-cli evaluate on the list file;
#   S  kelvaron-eval-cli evaluate on the picture set saved from it.
# Evaluations are given as ratios to the floor of the same round: the machine's
# speed drifts from minute to minute, and a round's floor drifts with it.

#   T  kelvaron-eval-cli evaluate --table on the list file (not on the PNG stacks,
#      whose L and S runs have the table already).
# The orders of the four within a round, one after the other: a balanced Latin
# square, so that over four rounds each kind runs once in each place and right
# after each other kind once.
readonly kOrders=("F L T S" "L S F T" "S T L F" "T F S L")


# time_floor STACK PHOTO...: the decode floor, one djpeg process per photograph, in
# turn; for a PNG stack one kelvaron-png-floor process decoding them all in turn.
# Sets elapsed_us.
time_floor() {
    local start end photo stack=$1
    shift
    clock_us start
    if is_camera "$stack"; then
        "$png_floor" "$@" || fail "libpng could not decode the photographs of $stack"
    else
        for photo; do
            djpeg -outfile /dev/null "$photo" || fail "djpeg could not decode $photo"
        done
    fi
    clock_us end
    elapsed_us=$((end - start))
}

# The photographs the list file $1 names, in picture order, into the array photos.
list_photos() {
    local folder line n=0
    folder=$(dirname "$1")
    photos=()
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        if ((++n <= 2)) || [ -z "$line" ]; then
            continue
        elif [[ $line == /* ]]; then
            photos+=("$line")
        else
            photos+=("$folder/$line")
        fi
    done <"$1"
}

# The list file of stack $1. kelvaron-bench generates a stack the first time one of
# its benchmarks needs it; when a --benchmark_filter kept it from doing so above,
# the stack's decode benchmark is run once, briefly, for that.
ensure_stack() {
    local list="$build/bench-stacks/$1/stack.txt"
    if [ ! -f "$list" ] && [ -n "${sample_options[$1]:-}" ]; then
        echo "Generating the $1 stack ..." >&2
        # shellcheck disable=SC2086 # the options are words
        "$make_sample" --out "$build/bench-stacks/$1" --name stack --width 4000 --height 3000 \
            --seed 2024 ${sample_options[$1]} >/dev/null ||
            fail "kelvaron-make-sample could not generate the $1 stack"
    elif [ ! -f "$list" ]; then
        echo "Generating the $1 stack ..." >&2
        "$bench" --benchmark_filter="^BM_DecodeBaseline/$1/" --benchmark_min_time=0.001 \
            >/dev/null 2>&1 || true
        [ -f "$list" ] || fail "kelvaron-bench did not generate the $1 stack ($list)"
    fi
}

# The picture set of stack $1, saved from its list file once (again when the list
# is newer) and reused like the stack.
ensure_set() {
    local list="$build/bench-stacks/$1/stack.txt" picset="$build/bench-stacks/$1/set.bbf"
    if [ ! -f "$picset" ] || [ "$list" -nt "$picset" ]; then
        echo "Saving the $1 stack as a picture set ..." >&2
        "$cli" save-set -q "$list" "$picset" >/dev/null || fail "could not save the picture set $picset"
    fi
}

# check_points OUT INPUT: the points file of the run just timed must be the one the
# untimed first run on the list file wrote (OUT/reference.txt).
check_points() {
    cmp -s "$1/points.txt" "$1/reference.txt" ||
        fail "evaluate $2 gave other points than the first run on the list file$(set_hint "$2")"
}

# An awk function for the tables: the numbers in s, sorted, into v; returns their
# count.
readonly awk_sorted='
    function sorted(s, v,   n, i, j, t) {
        n = split(s, v, " ")
        for (i = 2; i <= n; ++i) {
            t = v[i] + 0
            for (j = i - 1; j >= 1 && v[j] + 0 > t; --j) v[j + 1] = v[j]
            v[j + 1] = t
        }
        return n
    }'

# One row of the whole-process table for stack $1 from the rounds' figures, each a
# list of numbers in round order: $2 floor (µs), $3 evaluate list (µs), $4 evaluate
# set (µs), $5 peak memory list (KiB), $6 peak memory set (KiB), $7 evaluate list
# with the point table (µs), $8 its peak memory (KiB); the last two empty for the
# PNG stacks. The memory bounds are 6·W·H + 64 MiB (for the PNG stacks, with the
# point table, 8·W·H + 64 MiB) and, with the point table, 4·W·H + 64 MiB.
process_row() {
    local per_pixel=6
    ! is_camera "$1" || per_pixel=8
    awk -v size="${stack_size[$1]}" -v label="${stack_label[$1]:-${stack_size[$1]}}" \
        -v per_pixel="$per_pixel" -v floor="$2" -v on_list="$3" -v on_set="$4" \
        -v peak_list="$5" -v peak_set="$6" -v with_table="$7" -v peak_table="$8" '
    '"$awk_sorted"'
    function median(v, n) { return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }
    function largest(s,   v, n) { n = sorted(s, v); return v[n] }
    # Each run in s over the floor of its round; the median and the worst of these
    # ratios, and the median time in ms.
    function against_floor(s,   t, f, r, v, ms, n, i) {
        n = split(s, t, " "); split(floor, f, " ")
        r = ""
        for (i = 1; i <= n; ++i) r = r " " t[i] / f[i]
        sorted(r, v); sorted(s, ms)
        return sprintf("%.2f / %.2f (%.0f ms)", median(v, n), v[n], median(ms, n) / 1000)
    }
    BEGIN {
        split(size, wh, " x "); bound = per_pixel * wh[1] * wh[2] / 1048576 + 64
        n = sorted(floor, f)
        table = "-"; table_peak = "-"
        if (with_table != "") {
            table = against_floor(with_table)
            table_peak = sprintf("%.0f / %.0f", largest(peak_table) / 1024,
                4 * wh[1] * wh[2] / 1048576 + 64)
        }
        printf "| %s | %.0f | %s | %s | %s | %.0f / %.0f | %.0f | %s |\n", label,
            median(f, n) / 1000, against_floor(on_list), table, against_floor(on_set),
            largest(peak_list) / 1024, bound, largest(peak_set) / 1024, table_peak
    }'
}

# time_stack NAME: the rounds on one stack; appends its row to process_rows.
time_stack() {
    local stack=$1 list picset out="" round run
    local floor=() on_list=() on_set=() peak_list=() peak_set=() with_table=() peak_table=()
    list="$build/bench-stacks/$stack/stack.txt"
    picset="$build/bench-stacks/$stack/set.bbf"
    list_photos "$list"
    ((${#photos[@]} == 17)) || fail "$list names ${#photos[@]} photographs, not 17"
    make_scratch out "kelvaron-process-$stack"
    # A PNG stack is evaluated with its point table.
    local table=()
    ! is_camera "$stack" || table=(--table "$out/table.csv")
    echo "Timing whole processes on the $stack stack, $rounds rounds ..." >&2
    # Untimed: the stack's files into the page cache, and the points every run must give.
    find "$(dirname "$list")" -maxdepth 1 -type f -exec cat {} + >/dev/null
    time_evaluate "$list" "$out" "${table[@]}"
    cp "$out/points.txt" "$out/reference.txt"
    for ((round = 0; round < rounds; ++round)); do
        for run in ${kOrders[round % ${#kOrders[@]}]}; do
            if [ "$run" = T ] && is_camera "$stack"; then
                continue
            fi
            dirty_memory
            case $run in
            F)
                time_floor "$stack" "${photos[@]}"
                floor+=("$elapsed_us")
                ;;
            L)
                time_evaluate "$list" "$out" "${table[@]}"
                check_points "$out" "$list"
                on_list+=("$elapsed_us") peak_list+=("$peak_kib")
                ;;
            S)
                time_evaluate "$picset" "$out" "${table[@]}"
                check_points "$out" "$picset"
                on_set+=("$elapsed_us") peak_set+=("$peak_kib")
                ;;
            T)
                time_evaluate "$list" "$out" --table "$out/table.csv"
                check_points "$out" "$list"
                with_table+=("$elapsed_us") peak_table+=("$peak_kib")
                ;;
            esac
        done
    done
    rm -rf "$out"
    process_rows+=("$(process_row "$stack" "${floor[*]}" "${on_list[*]}" "${on_set[*]}" \
        "${peak_list[*]}" "${peak_set[*]}" "${with_table[*]}" "${peak_table[*]}")")
}

results=$(mktemp)
scratch+=("$results")
echo "Running the benchmarks (the first run also generates the stacks) ..." >&2
"$bench" --benchmark_format=csv "$@" 2>/dev/null >"$results"

# The stacks the whole-process timings need, and their picture sets.
for stack in $stacks; do
    ensure_stack "$stack"
    ensure_set "$stack"
done

# Peak memory of one evaluation by the command-line tool, per stack.
declare -A peak
for stack in small dots10k large; do
    list="$build/bench-stacks/$stack/stack.txt"
    out=$(mktemp -d)
    line=$("$cli" evaluate -q --timings "$list" "$out/points.txt" 2>&1 >/dev/null |
        grep -o 'peak memory [0-9]* MiB' || true)
    rm -rf "$out"
    peak[$stack]=${line#peak memory }
done

# What an option costs as users meet it: whole kelvaron-eval-cli processes, plain
# evaluate against evaluate with the option, one of each per round, the order
# alternating so that neither always runs on the cache the other left. Wall-clock
# per process; median and worst of the rounds.
# option_cost STACK WHAT OPTION...: one line into cost_lines.
option_rounds=7
cost_lines=()
option_cost() {
    local stack=$1 what=$2 list out="" round kind order plain_us=() with_us=()
    shift 2
    list="$build/bench-stacks/$stack/stack.txt"
    [ -f "$list" ] || return 0
    make_scratch out "kelvaron-option-$stack"
    local options=("${@//@OUT@/$out}")
    for ((round = 0; round < option_rounds; ++round)); do
        if ((round % 2 == 0)); then order="plain with"; else order="with plain"; fi
        for kind in $order; do
            dirty_memory
            if [ "$kind" = plain ]; then
                time_evaluate "$list" "$out"
                plain_us+=("$elapsed_us")
            else
                time_evaluate "$list" "$out" "${options[@]}"
                with_us+=("$elapsed_us")
            fi
        done
    done
    cost_lines+=("$(awk -v what="$what" -v label="${stack_label[$stack]:-${stack_size[$stack]}}" \
        -v rounds="$option_rounds" -v plain="${plain_us[*]}" -v with="${with_us[*]}" '
        '"$awk_sorted"'
        BEGIN {
            n = sorted(plain, p); sorted(with, w); m = int((n + 1) / 2)
            printf "%s, %s, whole process, %d rounds: evaluate median %.0f ms (worst %.0f), with it median %.0f ms (worst %.0f): %+.1f %%\n",
                what, label, rounds, p[m] / 1000, p[n] / 1000, w[m] / 1000, w[n] / 1000,
                100 * (w[m] / p[m] - 1)
        }')")
    rm -rf "$out"
}
for stack in dots10k dense; do
    ensure_stack "$stack"
    option_cost "$stack" "Point table (--table)" --table @OUT@/table.csv
    option_cost "$stack" "Settings chosen from the stack (--mindif auto --tolerance auto)" \
        --mindif auto --tolerance auto
done

awk -F, -v small="${peak[small]}" -v mid="${peak[dots10k]}" -v large="${peak[large]}" \
    '
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
    }' "$results"
printf '%s\n' "${cost_lines[@]}"

process_rows=()
for stack in $stacks; do
    time_stack "$stack"
done
if ((${#process_rows[@]} > 0)); then
    if ((dirty_mib > 0)); then dirtied="$dirty_mib MiB of memory filled"; else dirtied="no memory filled"; fi
    printf '\nWhole processes, %d rounds, %s before each run; ratios to the decode floor of the same round:\n\n' \
        "$rounds" "$dirtied"
    echo "| stack | decode floor (ms) | evaluate list median / worst (x floor) | evaluate list --table median / worst (x floor) | evaluate set median / worst (x floor) | peak memory list / bound (MiB) | peak memory set (MiB) | peak memory list --table / bound (MiB) |"
    echo "|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${process_rows[@]}"
fi
