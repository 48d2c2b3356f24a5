#!/bin/sh
# Peak memory and time of each mode, on a generated map and on the same
# kind of text as one single line:
#   bench/mode_memory.sh [PROGRAM] [SIZE_MB]
# after `cmake --workflow --preset release` (PROGRAM defaults to
# build/release/mapclean; SIZE_MB to 64). Needs GNU time (/usr/bin/time).
set -eu
program=${1:-build/release/mapclean}
size=${2:-64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$(dirname "$program")/bench/make_map" "$size" 5 > "$work/lines.map"
tr '\n' ' ' < "$work/lines.map" > "$work/line.map"
printf '| input | mode | time | peak memory |\n|---|---|---|---|\n'
for input in lines line; do
    for mode in "-check" "-check -stable" "-check -only planes" "-diff" "-s -quiet"; do
        cp "$work/$input.map" "$work/copy.map"
        # shellcheck disable=SC2086 # the mode is several words
        /usr/bin/time -f "%e %M" -o "$work/time" "$program" $mode "$work/copy.map" > /dev/null 2>&1 || true
        read -r seconds kilobytes <<EOF2
$(tail -n 1 "$work/time")
EOF2
        printf '| %s MiB, %s | `%s` | %s s | %s MiB |\n' "$size" "$( [ "$input" = lines ] && echo "short lines" || echo "one line")" \
            "$mode" "$seconds" "$((kilobytes / 1024))"
    done
done
