# The cases of scripts/compare-outputs.sh, sourced by it: each `c NAME COMMAND ARGS…`
# runs one command line with the old and with the new tools and compares what they
# left. @OUT stands for the case's output folder; the inputs are in $IN.
# The photograph lists are split into words on purpose; commas in options are values.
# shellcheck disable=SC2046,SC2054,SC2034,SC2148

echo "running the cases ..." >&2
J=$IN/jc/sample.txt
O=@OUT/p.txt

# evaluate: every kind of input, streamed and whole, with the point table
for name in jc jg j422 j444 p8 p8g p16 p16c t8 t16 t16s tnone dense sparse rough dim nodots big; do
    c "eval-$name" cli evaluate "$IN/$name/sample.txt" $O --table @OUT/p.csv -q
    c "eval-$name-full" cli evaluate "$IN/$name/sample.txt" $O --table @OUT/p.csv --full-stack -q
done
for name in mixed absolute crlf; do
    c "eval-list-$name" cli evaluate "$L/$name.txt" $O --table @OUT/p.csv
done
for name in jc p16 dense huge tall; do
    c "eval-set-$name" cli evaluate "$IN/set/$name.bbf" $O
    c "eval-set-$name-table" cli evaluate "$IN/set/$name.bbf" $O --table @OUT/p.csv
    c "eval-set-$name-full" cli evaluate "$IN/set/$name.bbf" $O --table @OUT/p.csv --full-stack -q
done
c eval-set-tall-1thread cli evaluate "$IN/set/tall.bbf" $O --table @OUT/p.csv --threads 1 -q
c eval-set-tall-report cli evaluate "$IN/set/tall.bbf" $O --report @OUT/r.html -q
c eval-set-tall-nobitmap cli evaluate "$IN/set/tall.bbf" $O --no-bitmap --mindif auto -q
c eval-set-huge-1thread cli evaluate "$IN/set/huge.bbf" $O --table @OUT/p.csv --threads 1 -q

# evaluate: the options, on one stack
c eval-plain cli evaluate "$J" $O
c eval-relative cli evaluate "$J" p.txt --table p.csv --report r.html
c eval-nobitmap cli evaluate "$J" $O --no-bitmap
c eval-nobitmap-table cli evaluate "$J" $O --no-bitmap --table @OUT/p.csv
c eval-report cli evaluate "$J" $O --report @OUT/r.html
c eval-report-table cli evaluate "$J" $O --report @OUT/r.html --table @OUT/t.csv --no-bitmap
c eval-report-full cli evaluate "$J" $O --report @OUT/r.html --full-stack
c eval-timings cli evaluate "$J" $O --timings --table @OUT/p.csv
c eval-timings-full cli evaluate "$J" $O --timings --full-stack
c eval-threads1 cli evaluate "$J" $O --threads 1 --table @OUT/p.csv
c eval-threads1-full cli evaluate "$J" $O --threads 1 --full-stack
c eval-settings cli evaluate "$J" $O --mindif 40 --tolerance 20 --table @OUT/p.csv
c eval-settings-zero cli evaluate "$J" $O --mindif 0 --tolerance 0 -q
c eval-settings-max cli evaluate "$J" $O --mindif 255 --tolerance 255 --table @OUT/p.csv -q
c eval-decimal cli evaluate "$J" $O --tolerance 010 --mindif 0080
c eval-auto-case cli evaluate "$J" $O --mindif AUTO --tolerance Auto -q
for name in dim jc p16 nodots rough; do
    c "eval-auto-$name" cli evaluate "$IN/$name/sample.txt" $O --mindif auto --tolerance auto \
        --table @OUT/p.csv
    c "eval-auto-$name-full" cli evaluate "$IN/$name/sample.txt" $O --mindif auto \
        --tolerance auto --full-stack
done
c eval-auto-mindif cli evaluate "$IN/dim/sample.txt" $O --mindif auto --tolerance 12
c eval-auto-tolerance cli evaluate "$IN/dim/sample.txt" $O --tolerance auto --mindif 20
c eval-auto-set cli evaluate "$IN/set/jc.bbf" $O --mindif auto --tolerance auto --table @OUT/p.csv
c eval-auto-threads1 cli evaluate "$IN/dim/sample.txt" $O --mindif auto --tolerance auto --threads 1
c eval-big-threads1 cli evaluate "$IN/big/sample.txt" $O --table @OUT/p.csv --threads 1 -q
c eval-big-threads2-full cli evaluate "$IN/big/sample.txt" $O --threads 2 --full-stack -q
c eval-big-auto cli evaluate "$IN/big/sample.txt" $O --mindif auto --tolerance auto --report @OUT/r.html
c eval-huge-list cli evaluate "$IN/huge/sample.txt" $O --table @OUT/p.csv -q
for ch in red green blue grey RED 0 1 2 3; do
    c "eval-channel-$ch" cli evaluate "$IN/j422/sample.txt" $O --channel "$ch" --table @OUT/p.csv -q
done
for ch in red green blue; do
    c "eval-p8-$ch" cli evaluate "$IN/p8/sample.txt" $O --channel $ch --table @OUT/p.csv -q
    c "eval-p16c-$ch" cli evaluate "$IN/p16c/sample.txt" $O --channel $ch --table @OUT/p.csv -q
    c "eval-t8-$ch" cli evaluate "$IN/t8/sample.txt" $O --channel $ch -q --full-stack
    c "eval-set-$ch" cli evaluate "$IN/set/jc.bbf" $O --channel $ch -q
done
for bits in 8 12 16; do
    c "eval-p16-bits$bits" cli evaluate "$IN/p16/sample.txt" $O --bits $bits --mindif 6 \
        --tolerance 6 --table @OUT/p.csv -q
    c "eval-p16-bits$bits-full" cli evaluate "$IN/p16/sample.txt" $O --bits $bits --mindif 6 \
        --tolerance 6 --table @OUT/p.csv --full-stack -q
done
c eval-t16s-bits10 cli evaluate "$IN/t16s/sample.txt" $O --bits 10 --table @OUT/p.csv -q
c eval-jc-bits12 cli evaluate "$J" $O --bits 12 --table @OUT/p.csv -q
c eval-p16c-bits1 cli evaluate "$IN/p16c/sample.txt" $O --bits 1 --table @OUT/p.csv -q

# render: every view, several planes, on a list and on a picture set
for plane in 0 1 2 9 16; do
    c "render-plane-$plane" cli render plane "$J" @OUT/v.bmp --plane $plane
    c "render-matrix-$plane" cli render matrix "$J" @OUT/v.bmp --plane $plane -q
done
c render-plane-default cli render plane "$J" @OUT/v.bmp
for view in edges codes EDGES Codes; do
    c "render-$view" cli render $view "$J" @OUT/v.bmp
    c "render-$view-set" cli render $view "$IN/set/jc.bbf" @OUT/v.bmp
done
c render-set-plane3 cli render plane "$IN/set/jc.bbf" @OUT/v.bmp --plane 3
c render-set-matrix7 cli render matrix "$IN/set/jc.bbf" @OUT/v.bmp --plane 7 --tolerance 50
c render-codes-dense cli render codes "$IN/dense/sample.txt" @OUT/v.bmp -q
c render-codes-auto cli render codes "$IN/dim/sample.txt" @OUT/v.bmp --mindif auto --tolerance auto
c render-matrix-settings cli render matrix "$IN/dim/sample.txt" @OUT/v.bmp --mindif 20 --tolerance 5
c render-edges-red cli render edges "$IN/j422/sample.txt" @OUT/v.bmp --channel red
c render-plane-p16 cli render plane "$IN/p16/sample.txt" @OUT/v.bmp --bits 12 --plane 2
c render-tall-plane cli render plane "$IN/set/tall.bbf" @OUT/v.bmp --plane 5 -q
c render-tall-codes cli render codes "$IN/set/tall.bbf" @OUT/v.bmp -q
c render-truncated-unshown cli render plane "$L/truncated-jpg.txt" @OUT/v.bmp --plane 2
c render-missing cli render codes "$L/missing.txt" @OUT/v.bmp
c render-threads1 cli render codes "$IN/big/sample.txt" @OUT/v.bmp --threads 1 -q

# suggest
for name in jc dim nodots rough p16 big; do
    c "suggest-$name" cli suggest "$IN/$name/sample.txt"
done
c suggest-bits12 cli suggest "$IN/p16/sample.txt" --bits 12 -q
c suggest-set cli suggest "$IN/set/jc.bbf"
c suggest-tall cli suggest "$IN/set/tall.bbf" -q
c suggest-threads1 cli suggest "$IN/rough/sample.txt" --threads 1 -q
c suggest-green cli suggest "$IN/j422/sample.txt" --channel green -q
c suggest-missing cli suggest "$L/missing.txt"

# save-set
c saveset-jc cli save-set "$J" @OUT/s.bbf
c saveset-ext cli save-set "$J" @OUT/s.dat -q
c saveset-relative cli save-set "$J" s
c saveset-bits12 cli save-set "$IN/p16/sample.txt" @OUT/s.bbf --bits 12 -q
c saveset-red cli save-set "$IN/j422/sample.txt" @OUT/s.bbf --channel red -q
c saveset-tall cli save-set "$IN/set/tall.bbf" @OUT/t.bbf
c saveset-huge cli save-set "$IN/set/huge.bbf" @OUT/h.bbf --threads 1 -q
c saveset-missing cli save-set "$L/missing.txt" @OUT/s.bbf
c saveset-nofolder cli save-set "$J" @OUT/nosuch/s.bbf -q
c saveset-over-own -s copy_set cli save-set @OUT/s/jc.bbf @OUT/s/jc.bbf -q
c saveset-beside-photo -s copy_jc cli save-set @OUT/c/sample.txt @OUT/c/sample_05.jpg -q

# batch
P=("$IN"/pose{1,2,3}/pose?.txt)
c batch-poses cli batch "${P[@]}" --out @OUT/b --table --report --poses-at-once 1
c batch-poses-side -u cli batch "${P[@]}" --out @OUT/b --table --report
c batch-plain -u cli batch "${P[@]}" --out @OUT/b
c batch-nobitmap cli batch "${P[@]}" --out @OUT/b --no-bitmap --poses-at-once 1
c batch-full -u cli batch "${P[@]}" --out @OUT/b --full-stack --table
c batch-auto -u cli batch "${P[@]}" --out @OUT/b --mindif auto --tolerance auto --table
c batch-threads1 -u cli batch "${P[@]}" --out @OUT/b --threads 1 --poses-at-once 2 --report
c batch-quiet cli batch "${P[@]}" --out @OUT/b -q --channel red --bits 12
c batch-relative -u cli batch "${P[@]}" --out b --table
c batch-sets -u cli batch "$IN/set/jc.bbf" "$IN/set/dense.bbf" "$IN/set/tall.bbf" --out @OUT/b --table
c batch-same-names cli batch "$IN/left/pose.txt" "$IN/right/pose.txt" --out @OUT/b --poses-at-once 1
c batch-failures cli batch "$L/missing.txt" "$J" "$L/truncated-jpg.txt" "$L/sixteen.txt" \
    "$IN/set/short-plane.bbf" --out @OUT/b --table --report --poses-at-once 1
c batch-kept -s batch_before cli batch "${P[@]}" --out @OUT/b --table --poses-at-once 1
c batch-changed -s batch_before cli batch "${P[@]}" --out @OUT/b --table --mindif 70 --poses-at-once 1
c batch-force -s batch_before cli batch "${P[@]}" --out @OUT/b --table --force --poses-at-once 1
c batch-twice cli batch "$J" "$J" --out @OUT/b
c batch-over-input -s copy_jc cli batch @OUT/c/sample.txt --out @OUT/c
c batch-out-file -s not_a_folder cli batch "$J" --out @OUT/file
c batch-read-only -n -s read_only cli batch "$J" --out @OUT/ro
c batch-no-out cli batch "$J"
c batch-poses-at-once-9 cli batch "$J" --out @OUT/b --poses-at-once 9
c batch-report-nobitmap cli batch "$J" "$IN/nodots/sample.txt" --out @OUT/b --report --no-bitmap --poses-at-once 1

# failures of the input
for name in sixteen eighteen missing truncated-jpg truncated-png truncated-tif truncated-code \
    not-a-picture a-folder sizes empty header-only; do
    c "fail-$name" cli evaluate "$L/$name.txt" $O --table @OUT/p.csv
    c "fail-$name-full" cli evaluate "$L/$name.txt" $O --full-stack -q
done
c fail-no-list cli evaluate "$L/nosuch.txt" $O
c fail-list-folder cli evaluate "$L" $O
c fail-suggest-sizes cli suggest "$L/sizes.txt"
c fail-saveset-truncated cli save-set "$L/truncated-png.txt" @OUT/s.bbf
for name in bad-width neg-height too-big three-lines no-planes missing-plane short-plane \
    empty-line sixteen temp-name wider truncated; do
    c "fail-set-$name" cli evaluate "$IN/set/$name.bbf" $O --table @OUT/p.csv
    c "fail-set-$name-full" cli evaluate "$IN/set/$name.bbf" $O --full-stack -q
done
c fail-set-missing-header cli evaluate "$IN/set/nosuch.bbf" $O
c fail-render-set cli render plane "$IN/set/short-plane.bbf" @OUT/v.bmp --plane 4

# failures of the outputs
c out-points-photo -s copy_jc cli evaluate @OUT/c/sample.txt @OUT/c/sample_03.jpg
c out-points-list -s copy_jc cli evaluate @OUT/c/sample.txt @OUT/c/sample.txt --no-bitmap
c out-bitmap-photo -s copy_bmp cli evaluate @OUT/c/sample.txt @OUT/c/sample_03.txt
c out-table-points cli evaluate "$J" $O --table $O
c out-table-points-dot cli evaluate "$J" $O --table @OUT/./p.txt
c out-table-bitmap cli evaluate "$J" $O --table @OUT/p.bmp
c out-table-bitmap-off cli evaluate "$J" $O --table @OUT/p.bmp --no-bitmap
c out-table-photo -s copy_jc cli evaluate @OUT/c/sample.txt $O --table @OUT/c/sample_16.jpg
c out-report-list -s copy_jc cli evaluate @OUT/c/sample.txt $O --report @OUT/c/sample.txt
c out-report-table cli evaluate "$J" $O --report @OUT/t.csv --table @OUT/t.csv
c out-points-bmp cli evaluate "$J" @OUT/p.bmp
c out-points-bmp-off cli evaluate "$J" @OUT/p.bmp --no-bitmap
c out-points-set-plane -s copy_set cli evaluate @OUT/s/jc.bbf @OUT/s/3_jc.bin
c out-render-photo -s copy_jc cli render plane @OUT/c/sample.txt @OUT/c/sample_00.jpg
c out-render-header -s copy_set cli render codes @OUT/s/jc.bbf @OUT/s/jc.bbf
c out-no-folder cli evaluate "$J" @OUT/nosuch/p.txt
c out-not-a-folder -s not_a_folder cli evaluate "$J" @OUT/file/p.txt
c out-points-folder cli evaluate "$J" @OUT
c out-read-only -n -s read_only cli evaluate "$J" @OUT/ro/p.txt --table @OUT/ro/p.csv
c out-table-read-only -n -s read_only cli evaluate "$J" $O --table @OUT/ro/p.csv
c out-report-no-folder cli evaluate "$J" $O --report @OUT/nosuch/r.html
c out-table-no-folder-full cli evaluate "$J" $O --table @OUT/nosuch/t.csv --full-stack
c out-render-read-only -n -s read_only cli render edges "$J" @OUT/ro/v.bmp
c out-saveset-read-only -n -s read_only cli save-set "$J" @OUT/ro/s.bbf

# bad command lines
c usage-none cli
c usage-help cli --help
for command in evaluate batch render suggest save-set; do
    c "usage-help-$command" cli $command --help
    c "usage-bare-$command" cli $command
done
c usage-unknown-command cli bogus
c usage-unknown-flag cli evaluate "$J" $O --bogus
c usage-no-points cli evaluate "$J"
c usage-extra cli evaluate "$J" $O extra
c usage-empty-points cli evaluate "$J" ""
c usage-empty-table cli evaluate "$J" $O --table ""
c usage-empty-report cli evaluate "$J" $O --report ""
c usage-empty-out cli batch "$J" --out ""
for value in 256 abc -1 "" 1e2 0x10 " 5" 99999999999999999999; do
    tag=${value// /_}
    c "usage-tolerance-[$tag]" cli evaluate "$J" $O --tolerance "$value"
    c "usage-mindif-[$tag]" cli render edges "$J" @OUT/v.bmp --mindif "$value"
done
for value in 0 17 x -3; do c "usage-bits-$value" cli evaluate "$J" $O --bits $value; done
for value in 1025 -1 two; do c "usage-threads-$value" cli suggest "$J" --threads $value; done
for value in 17 -1 x; do c "usage-plane-$value" cli render plane "$J" @OUT/v.bmp --plane $value; done
c usage-channel cli evaluate "$J" $O --channel purple
c usage-channel-4 cli evaluate "$J" $O --channel 4
c usage-view cli render bogus "$J" @OUT/v.bmp
c usage-suggest-tolerance cli suggest "$J" --tolerance 5
c usage-saveset-mindif cli save-set "$J" @OUT/s.bbf --mindif 5
c usage-batch-timings cli batch "$J" --out @OUT/b --timings
c usage-batch-table-file cli batch "$J" --out @OUT/b --table @OUT/t.csv
c usage-twice cli evaluate "$J" $O --table @OUT/a.csv --table @OUT/b.csv

# the checker
c check-jc check "$IN/jc/sample_truth.csv" "$IN/jc/points.txt"
c check-jc-table check "$IN/jc/sample_truth.csv" "$IN/jc/points.txt" --table "$IN/jc/points.csv"
c check-rough-table check "$IN/rough/sample_truth.csv" "$IN/rough/points.txt" --table "$IN/rough/points.csv"
c check-nodots check "$IN/nodots/sample_truth.csv" "$IN/nodots/points.txt" --table "$IN/nodots/points.csv"
c check-wrong-truth check "$IN/rough/sample_truth.csv" "$IN/jc/points.txt"
c check-truth-as-points check "$IN/jc/sample_truth.csv" "$IN/jc/sample_truth.csv"
c check-points-as-truth check "$IN/jc/points.txt" "$IN/jc/points.txt"
c check-table-as-points check "$IN/jc/sample_truth.csv" "$IN/jc/points.csv"
c check-missing check "$IN/jc/sample_truth.csv" "$IN/jc/nosuch.txt"
c check-missing-table check "$IN/jc/sample_truth.csv" "$IN/jc/points.txt" --table nosuch.csv
c check-none check
c check-help check --help
c check-bogus check a b --bogus

# the sample generator itself
c sample-jpeg sample --out @OUT/s --width 160 --height 120
c sample-grey-jpeg sample --out @OUT/s --width 160 --height 120 --grey-jpeg --quality 50 --name g
c sample-png16 sample --out @OUT/s --width 160 --height 120 --format png --depth 16 --significant-bits 12
c sample-tiff sample --out @OUT/s --width 160 --height 120 --format tiff --depth 16 --tiff-tile 32 \
    --tiff-compression lzw --grey --threads 1
c sample-camera sample --out @OUT/s "${CAM[@]}" --pose 0.1,0.2,0,3,2,510 --width 320 --height 240 \
    --target-jitter 0.5
c sample-varied sample --out @OUT/s --width 200 --height 150 --spacing 12 --shuffle --gain-spread 0.4 \
    --tint 1,0.5,0.2 --noise 4 --vignetting 0.6 --chroma-444
c sample-bad-depth sample --out @OUT/s --depth 16
c sample-bad-camera sample --out @OUT/s --pose 0,0,0,0,0,500
c sample-help sample --help
c sample-no-out sample

