#!/usr/bin/env bash
# Proves that two builds of the command-line tools give the same outputs, byte for byte.
#
#   scripts/compare-outputs.sh OLD_BIN_DIR NEW_BIN_DIR
#
# Each folder holds kelvaron-eval-cli, kelvaron-make-sample and kelvaron-check-points.
# The inputs (JPEG, PNG and TIFF stacks, picture sets, a set taller than 65536 rows,
# damaged lists, photographs and headers) are made once with OLD_BIN_DIR's tools in a
# scratch folder, removed on exit unless KEEP=1. Every case then runs with the old and
# with the new tools, each run in a fresh output folder of its own (its working
# directory), and the two runs must agree on the exit status, stdout, stderr and every
# file left in the folder (same names, cmp on each). In stdout and stderr the output
# folder and the tools' folder become @OUT@ and @BIN@, timing figures ("0.123 s") and
# the peak memory are masked, and the per-pose lines of a batch whose poses run side
# by side are compared in any order. A file that differs is compared once more with
# the output folder's path and its time figures masked (summary.csv, *.settings and
# the report's seconds column); only then does it count as identical.
#
# Prints "N cases, M files compared, all identical" and exits 0, or lists each
# difference (case, command line, file, what differs) and exits 1. Exit 2: bad use.
# Example: scripts/compare-outputs.sh /work/old-bin build/bin

# The photograph lists are split into words on purpose; commas in options are values.
# shellcheck disable=SC2046,SC2054
set -u -o pipefail
export LC_ALL=C

if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BIN_DIR NEW_BIN_DIR" >&2
    exit 2
fi
TOOLS=(kelvaron-eval-cli kelvaron-make-sample kelvaron-check-points)
for side in "$1" "$2"; do
    for tool in "${TOOLS[@]}"; do
        [ -x "$side/$tool" ] || { echo "$0: $side/$tool is missing" >&2; exit 2; }
    done
done
OLD=$(cd "$1" && pwd)
NEW=$(cd "$2" && pwd)
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3

S=$(mktemp -d "${TMPDIR:-/tmp}/compare-outputs.XXXXXX") || exit 2
cleanup() {
    if [ "${KEEP:-0}" = 1 ]; then
        echo "scratch folder kept: $S" >&2
    else
        chmod -R u+rwX "$S" 2>/dev/null
        rm -rf "$S"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
chmod 755 "$S" # the runs without the right to override permissions read from it
IN=$S/in
mkdir -p "$IN" "$S/o/old" "$S/o/new" "$S/res/old" "$S/res/new"
: >"$S/diffs"
CASES=0
FILES=0
MASKED=0

fail() {
    echo "$0: $*" >&2
    exit 2
}

# ---------------------------------------------------------------- inputs (old tools)
echo "making the inputs with $OLD ..." >&2
sample() { # NAME OPTION...: a stack in $IN/NAME, 320 x 240 unless the options say otherwise
    local name=$1 size=()
    shift
    [[ " $* " == *" --width "* ]] || size+=(--width 320)
    [[ " $* " == *" --height "* ]] || size+=(--height 240)
    "$OLD/kelvaron-make-sample" --out "$IN/$name" "${size[@]}" "$@" >/dev/null ||
        fail "kelvaron-make-sample $* failed"
}
sample jc
sample jg --grey-jpeg --seed 2
sample j422 --chroma-422 --tint 1,0.7,0.5 --seed 3
sample j444 --chroma-444 --quality 75 --seed 4
sample p8 --format png --tint 0.6,1,0.8 --seed 5
sample p8g --format png --grey --seed 2
sample p16 --format png --depth 16 --grey --significant-bits 12 --brightness 100 --ambient 10 \
    --noise 0.5 --seed 6
sample p16c --format png --depth 16 --tint 1,0.9,0.6 --seed 7
sample t8 --format tiff --tiff-compression lzw --tint 0.8,0.8,1 --seed 8
sample t16 --format tiff --depth 16 --grey --seed 9
sample t16s --format tiff --depth 16 --significant-bits 10 --tiff-tile 64 \
    --tiff-compression packbits --grey --seed 10
sample tnone --format tiff --grey --tiff-compression none --seed 2
sample dense --spacing 10 --seed 11
sample sparse --spacing 40 --dot-radius 9 --blur 2 --seed 12
sample rough --spacing 14 --noise 8 --jitter 2.5 --shuffle --gain-spread 0.5 --vignetting 0.5 \
    --seed 13
sample dim --brightness 90 --seed 14
sample nodots --max-dots 0
sample small --height 200 --seed 15
sample big --width 1280 --height 960 --seed 16
sample huge --width 2400 --height 1800 --grey-jpeg --spacing 40 --seed 17
CAM=(--camera 800,800,160,120,-0.05,0.01 --target-columns 12 --target-rows 9
    --target-dot-radius 2.5)
sample pose1 "${CAM[@]}" --pose 0,0,0,0,0,500 --name pose1
sample pose2 "${CAM[@]}" --pose 0.2,-0.1,0.05,5,-3,520 --name pose2 --seed 2
sample pose3 "${CAM[@]}" --pose -0.15,0.2,0,-5,4,480 --name pose3 --seed 3
sample left --name pose --seed 21
sample right --name pose --seed 22

# Picture sets saved by the old tool, and one taller than 65536 rows written directly.
mkdir -p "$IN/set"
for name in jc p16 dense huge; do
    "$OLD/kelvaron-eval-cli" save-set "$IN/$name/sample.txt" "$IN/set/$name.bbf" -q \
        --bits 12 >/dev/null || fail "save-set $name failed"
done
"$PYTHON" - "$IN/set" <<'EOF' || fail "the tall picture set could not be written"
# 8 x 70000 pixels: a column of 5000 dots, dot n at rows 14n … 14n + 13, its number in
# code pictures 3 … 16, planes stored column by column as a picture set holds them.
import os, sys
import numpy as np
out = sys.argv[1]
width, height, step = 8, 70000, 14
rows = np.arange(height)[:, None]
cols = np.arange(width)[None, :]
n = rows // step
cy = n * step + 6.5 + ((n % 5) - 2) * 0.3
cx = 3.5 + ((n % 3) - 1) * 0.4
light = np.clip(1 - np.hypot(rows - cy, cols - cx) / 3.4, 0, 1) * 200
noise = (rows * 7 + cols * 13) % 5
planes = [20 + noise, np.full((height, width), 230), 20 + noise + light]
planes += [20 + noise + light * ((n >> (k - 3)) & 1) for k in range(3, 17)]
names = []
for i, plane in enumerate(planes):
    name = "%d_tall.bin" % i
    data = np.clip(np.broadcast_to(plane, (height, width)), 0, 255).astype(np.uint8)
    with open(os.path.join(out, name), "wb") as f:
        f.write(np.ascontiguousarray(data.T).tobytes())
    names.append(name)
lines = ["Kelvaron bin file : 0, 1, points, 14x code pics (width, height)", str(width),
         str(height), "-" * 63] + names
with open(os.path.join(out, "tall.bbf"), "wb") as f:
    f.write("".join(l + "\r\n" for l in lines).encode())
EOF

# Damaged picture-set headers beside the planes of set/jc.
header() { # NAME LINE...: a header in $IN/set with CR LF line ends
    local name=$1
    shift
    printf '%s\r\n' "$@" >"$IN/set/$name.bbf"
}
PLANES=()
for i in $(seq 0 16); do PLANES+=("${i}_jc.bin"); done
TITLE="Kelvaron bin file"
RULE="---------------------------------------------------------------"
head -c 30000 "$IN/set/4_jc.bin" >"$IN/set/short.bin"
header bad-width "$TITLE" abc 240 "$RULE" "${PLANES[@]}"
header neg-height "$TITLE" 320 -5 "$RULE" "${PLANES[@]}"
header too-big "$TITLE" 100000 100000 "$RULE" "${PLANES[@]}"
header three-lines "$TITLE" 320 240
header no-planes "$TITLE" 320 240 "$RULE"
header missing-plane "$TITLE" 320 240 "$RULE" "${PLANES[@]:0:6}" nosuch.bin "${PLANES[@]:7}"
header short-plane "$TITLE" 320 240 "$RULE" "${PLANES[@]:0:4}" short.bin "${PLANES[@]:5}"
header empty-line "$TITLE" 320 240 "$RULE" "${PLANES[@]:0:9}" "" "${PLANES[@]:10}"
header sixteen "$TITLE" 320 240 "$RULE" "${PLANES[@]:0:16}"
header temp-name "$TITLE" 320 240 "$RULE" "${PLANES[@]:0:3}" .3_jc.bin.123-abcdefgh.tmp \
    "${PLANES[@]:4}"
header wider "$TITLE" 400 240 "$RULE" "${PLANES[@]}"
cp "$IN/set/jc.bbf" "$IN/set/truncated.bbf" && truncate -s 40 "$IN/set/truncated.bbf"

# Lists, good and bad, and the photographs they need.
L=$IN/lists
mkdir -p "$L"
list() { # NAME PHOTOGRAPH...: a list file in $L
    local name=$1
    shift
    { printf 'list %s\n' "$name" "made by compare-outputs"; printf '%s\n' "$@"; } >"$L/$name.txt"
}
photos() { # STACK EXTENSION FROM TO: the stack's photographs FROM … TO, relative to $L
    local k
    for k in $(seq "$3" "$4"); do printf '../%s/sample_%02d.%s\n' "$1" "$k" "$2"; done
}
head -c 3000 "$IN/jc/sample_05.jpg" >"$L/truncated.jpg"
head -c 4000 "$IN/p8g/sample_05.png" >"$L/truncated.png"
head -c 5000 "$IN/t16/sample_05.tif" >"$L/truncated.tif"
printf 'this is not a picture\n' >"$L/text.jpg"
mkdir -p "$L/folder.jpg"
: >"$L/empty.txt"
printf 'only\ntwo lines\n' >"$L/header-only.txt"
list sixteen $(photos jc jpg 0 15)
list eighteen $(photos jc jpg 0 16) ../jc/sample_16.jpg
list missing $(photos jc jpg 0 4) nosuch.jpg $(photos jc jpg 6 16)
list truncated-jpg $(photos jc jpg 0 4) truncated.jpg $(photos jc jpg 6 16)
list truncated-png $(photos p8g png 0 4) truncated.png $(photos p8g png 6 16)
list truncated-tif $(photos t16 tif 0 4) truncated.tif $(photos t16 tif 6 16)
list truncated-code $(photos jc jpg 0 15) truncated.jpg
list not-a-picture $(photos jc jpg 0 6) text.jpg $(photos jc jpg 8 16)
list a-folder $(photos jc jpg 0 6) folder.jpg $(photos jc jpg 8 16)
list sizes $(photos jc jpg 0 2) ../small/sample_03.jpg $(photos jc jpg 4 16)
list mixed $(photos jg jpg 0 5) $(photos p8g png 6 11) $(photos tnone tif 12 16)
list absolute $(photos jc jpg 0 16 | sed "s|^\.\.|$IN|")
sed 's/$/\r/' "$L/absolute.txt" >"$L/crlf.txt"

# Points files and tables for the checker, by the old tool.
for name in jc rough nodots; do
    "$OLD/kelvaron-eval-cli" evaluate "$IN/$name/sample.txt" "$IN/$name/points.txt" \
        --table "$IN/$name/points.csv" --no-bitmap -q >/dev/null 2>&1 || fail "evaluate $name failed"
done
# A list or photograph a run may try to overwrite is a private copy in its folder.
copy_jc() { cp -r "$IN/jc" "$2/c"; }
copy_bmp() { # photograph 3 named like the bitmap of points file sample_03.txt
    copy_jc "$@" && mv "$2/c/sample_03.jpg" "$2/c/sample_03.bmp" &&
        sed -i 's/^sample_03\.jpg$/sample_03.bmp/' "$2/c/sample.txt"
}
copy_set() { mkdir -p "$2/s" && cp "$IN/set/"{jc.bbf,*_jc.bin} "$2/s/"; }
not_a_folder() { : >"$2/file"; }
read_only() { mkdir -p "$2/ro" && chmod 555 "$2/ro"; }
batch_before() { # the same build's batch once before the case
    "$1/kelvaron-eval-cli" batch "$IN"/pose{1,2,3}/pose?.txt --out "$2/b" --table -q >/dev/null
}
find "$IN" -type f -exec md5sum {} + | sort >"$S/inputs.md5"

# ---------------------------------------------------------------- running and comparing
mask_stream() { # FILE DIR BIN UNORDERED
    perl -pe 'BEGIN { ($d, $b) = splice(@ARGV, 0, 2) }
        s/\Q$d\E/\@OUT\@/g; s/\Q$b\E/\@BIN\@/g;
        s/\b\d+\.\d{3} s\b/#.### s/g; s/peak memory \d+ MiB/peak memory # MiB/g;
        s/\.\d+-[a-z0-9]+\.tmp\b/.#-#.tmp/g;' "$2" "$3" <"$1" |
        if [ "$4" = 1 ]; then sed -E 's/^Pose [0-9]+ of/Pose # of/' | sort; else cat; fi
}
mask_file() { # FILE DIR: the output folder and time figures masked
    perl -pe 'BEGIN { $d = shift @ARGV; $f = $ARGV[0] }
        s/\Q$d\E/\@OUT\@/g; s/\.\d+-[a-z0-9]+\.tmp\b/.#-#.tmp/g;
        s/^((?:[^,]*,){7})\d+\.\d{3},/$1#,/ if $f =~ /summary\.csv$/;
        s/^seconds \d+\.\d+$/seconds #/ if $f =~ /\.settings$/;
        s{<td class="num">\d+\.\d\d</td><td class="message">}{<td class="num">#</td><td class="message">}g
            if $f =~ /\.html$/;' "$2" "$1"
}
listing() { # DIR: every entry with its type, temporary names masked
    (cd "$1" && find . -mindepth 1 -printf '%P\t%y\n') |
        sed -E 's/\.[0-9]+-[a-z0-9]+\.tmp\t/.#-#.tmp\t/' | sort
}
difference() { FOUND+="  - $*"$'\n'; }
first_line_diff() { # OLD NEW: the first line that differs
    diff "$1" "$2" | sed -n '1,5p' | cut -c1-300 | sed 's/^/      /'
}
first_byte_diff() { # OLD NEW: where they part and the 16 bytes from there
    local at sa sb
    sa=$(stat -c %s "$1") sb=$(stat -c %s "$2")
    at=$(cmp -l "$1" "$2" 2>/dev/null | awk 'NR == 1 { print $1 }')
    [ -n "$at" ] || at=$(( (sa < sb ? sa : sb) + 1 )) # one is the start of the other
    echo "sizes $sa (old) / $sb (new), first difference at byte $at (counting from 1)"
    echo "      old: $(od -An -tx1 -j $((at - 1)) -N 16 "$1" | tr -s ' ')"
    echo "      new: $(od -An -tx1 -j $((at - 1)) -N 16 "$2" | tr -s ' ')"
}

run_side() { # SIDE BIN: one run of the current case
    local side=$1 bin=$2 dir=$S/o/$1/$CASE res=$S/res/$1/$CASE a args=()
    mkdir -p "$dir"
    [ -n "$SETUP" ] && "$SETUP" "$bin" "$dir"
    for a in "${ARGS[@]}"; do args+=("${a//@OUT/$dir}"); done
    local wrap=(timeout 120)
    [ "$NOCAPS" = 1 ] && [ "$(id -u)" = 0 ] &&
        wrap+=(setpriv --bounding-set=-dac_override,-dac_read_search,-fowner --)
    (cd "$dir" && exec "${wrap[@]}" "$bin/$TOOL" "${args[@]}") >"$res.out" 2>"$res.err" </dev/null
    echo $? >"$res.rc"
    mask_stream "$res.out" "$dir" "$bin" 0 >"$res.mout"
    mask_stream "$res.err" "$dir" "$bin" "$UNORDERED" >"$res.merr"
    listing "$dir" >"$res.list"
}

# c NAME [-s SETUP] [-u] [-n] TOOL ARG...: one case. TOOL is cli, sample or check; @OUT
# in an argument is the run's output folder. -s: SETUP BIN DIR runs first; -u: the
# stderr lines in any order; -n: without the right to override file permissions.
c() {
    CASE=$1 SETUP='' UNORDERED=0 NOCAPS=0 FOUND=''
    shift
    while :; do
        case $1 in
        -s) SETUP=$2; shift 2 ;;
        -u) UNORDERED=1; shift ;;
        -n) NOCAPS=1; shift ;;
        *) break ;;
        esac
    done
    case $1 in
    cli) TOOL=kelvaron-eval-cli ;; sample) TOOL=kelvaron-make-sample ;;
    check) TOOL=kelvaron-check-points ;; *) fail "case $CASE: unknown tool $1" ;;
    esac
    shift
    ARGS=("$@")
    [ -e "$S/o/old/$CASE" ] && fail "case $CASE is given twice"
    CASES=$((CASES + 1))
    run_side old "$OLD"
    run_side new "$NEW"
    local o=$S/res/old/$CASE n=$S/res/new/$CASE od=$S/o/old/$CASE nd=$S/o/new/$CASE f
    [ "$(cat "$o.rc")" = "$(cat "$n.rc")" ] ||
        difference "exit status $(cat "$o.rc") (old), $(cat "$n.rc") (new)"
    cmp -s "$o.mout" "$n.mout" || difference "stdout differs:"$'\n'"$(first_line_diff "$o.mout" "$n.mout")"
    cmp -s "$o.merr" "$n.merr" || difference "stderr differs:"$'\n'"$(first_line_diff "$o.merr" "$n.merr")"
    cmp -s "$o.list" "$n.list" ||
        difference "the files left differ (< old, > new):"$'\n'"$(first_line_diff "$o.list" "$n.list")"
    while IFS=$'\t' read -r f type; do
        [ "$type" = f ] && [ -f "$nd/$f" ] || continue
        FILES=$((FILES + 1))
        cmp -s "$od/$f" "$nd/$f" && continue
        local lines=
        case $f in
        *.txt | *.csv | *.html | *.settings | *.bbf)
            if cmp -s <(mask_file "$od/$f" "$od") <(mask_file "$nd/$f" "$nd"); then
                MASKED=$((MASKED + 1))
                continue
            fi
            lines=$'\n'"      first lines that differ (masked):"$'\n'"$(first_line_diff \
                <(mask_file "$od/$f" "$od") <(mask_file "$nd/$f" "$nd"))" ;;
        esac
        difference "file $f differs: $(first_byte_diff "$od/$f" "$nd/$f")$lines"
    done <"$o.list"
    if [ -n "$FOUND" ]; then
        local how=${SETUP:+" (after $SETUP)"}
        [ "$NOCAPS" = 1 ] && how+=" (without overriding permissions)"
        { echo "$CASE: $TOOL ${ARGS[*]}$how" | sed "s|$IN|\$IN|g"; printf '%s' "$FOUND"; } >>"$S/diffs"
        echo "  $CASE differs" >&2
    fi
}

# ---------------------------------------------------------------- the cases
# shellcheck source=scripts/compare-cases.sh
source "$(dirname "$0")/compare-cases.sh"

# ---------------------------------------------------------------- the verdict
find "$IN" -type f -exec md5sum {} + | sort | cmp -s - "$S/inputs.md5" ||
    echo "inputs: a run changed the inputs in $IN (see KEEP=1)" >>"$S/diffs"
if [ ! -s "$S/diffs" ]; then
    [ "$MASKED" -gt 0 ] && echo "($MASKED of the files agree once their time figures are masked)"
    echo "$CASES cases, $FILES files compared, all identical"
    exit 0
fi
echo "$CASES cases, $FILES files compared; differences:"
sed "s|$S/o/old/|@OLD@/|g; s|$S/o/new/|@NEW@/|g" "$S/diffs"
exit 1
