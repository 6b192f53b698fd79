#!/usr/bin/env bash
# Builds the tool, generates a 1280 x 960 sample stack under build/sample, evaluates
# it with the command-line tool and compares the points and the refined centres
# with the ground truth.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
ensure_packages

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

sample=build/sample
echo
echo "Generating a 1280 x 960 sample stack in $sample ..."
build/bin/kelvaron-make-sample --out "$sample" --name sample --width 1280 --height 960 >/dev/null

echo "Evaluating it:"
build/bin/kelvaron-eval-cli evaluate -q "$sample/sample.txt" "$sample/points.txt" \
    --table "$sample/table.csv"
echo "Against the ground truth:"
build/bin/kelvaron-check-points "$sample/sample_truth.csv" "$sample/points.txt" \
    --table "$sample/table.csv"

cat <<EOF

Points file:     $sample/points.txt
Marked picture:  $sample/points.bmp
Point table:     $sample/table.csv

To look at it in the window: build/bin/kelvaron-eval, then "Load *.jpg" and pick
$sample/sample.txt, then "Set Settings, Evaluate and Save".
EOF
