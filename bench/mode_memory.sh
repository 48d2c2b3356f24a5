#!/bin/sh
# Peak memory and time of each mode, of a file and of the filter, on a
# generated map, on the same kind of text as one single line, and on a map
# whose every line changes (a diff of it is one hunk):
#   bench/mode_memory.sh [PROGRAM] [SIZE_MB]
# after `cmake --workflow --preset release` (PROGRAM defaults to
# build/release/mapclean; SIZE_MB to 64). Needs GNU time (/usr/bin/time);
# takes about three times SIZE_MB of disk in TMPDIR (or /tmp).
set -eu
program=${1:-build/release/mapclean}
size=${2:-64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$(dirname "$program")/bench/make_map" "$size" 5 > "$work/lines.map"
tr '\n' ' ' < "$work/lines.map" > "$work/line.map"
"$(dirname "$program")/bench/make_map" "$size" 100 > "$work/changing.map"

# One row: INPUT NAME, then the mode's words; "-" among them reads the
# input from stdin, else a copy of it is the target.
measure() {
    input=$1 name=$2
    shift 2
    cp "$work/$input.map" "$work/copy.map"
    case " $* " in
    *" - "*) /usr/bin/time -f "%e %M" -o "$work/time" "$program" "$@" < "$work/copy.map" > /dev/null 2>&1 || true ;;
    *) /usr/bin/time -f "%e %M" -o "$work/time" "$program" "$@" "$work/copy.map" > /dev/null 2>&1 || true ;;
    esac
    read -r seconds kilobytes <<EOF2
$(tail -n 1 "$work/time")
EOF2
    printf '| %s MiB, %s | `%s` | %s s | %s MiB |\n' "$size" "$name" "$*" "$seconds" "$((kilobytes / 1024))"
}

printf '| input | mode | time | peak memory |\n|---|---|---|---|\n'
for input in lines line; do
    name=$([ "$input" = lines ] && echo "short lines" || echo "one line")
    for mode in "-check" "-check -stable" "-check -only planes" "-diff" "-s -quiet" \
        "-quiet -" "-quiet -stable -" "-quiet -p 2 -" "-quiet -only planes -" "-check -" "-list -" "-diff -"; do
        # shellcheck disable=SC2086 # the mode is several words
        measure "$input" "$name" $mode
    done
done
measure changing "every line changes" -diff
measure changing "every line changes" -diff -
