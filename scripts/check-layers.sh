#!/usr/bin/env bash
# Checks that the engine's folders keep their layers: a file includes only headers
# of its own folder and of the folders below it, named with their folder; the
# umbrella headers at the top may include any. Prints each include that breaks
# this and exits 1, or exits 0 when there is none.
set -euo pipefail
cd "$(dirname "$0")/../engine"
layers=(base files image input decode refine output pipeline)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done
status=0
for folder in "${layers[@]}"; do
    for file in "$folder"/*; do
        while IFS= read -r line; do
            target=${line#*\"}
            target=${target%\"*}
            if [[ $target != */* ]]; then
                echo "$file: include \"$target\" does not name its folder"
                status=1
                continue
            fi
            up=${target%%/*}
            if [[ -z ${rank[$up]+set} ]]; then
                echo "$file: include \"$target\" is not an engine header of a layer"
                status=1
            elif ((rank[$up] > rank[$folder])); then
                echo "$file: include \"$target\" points up, from $folder to $up"
                status=1
            fi
        done < <(grep -E '^#include "' "$file" || true)
    done
done
exit $status
