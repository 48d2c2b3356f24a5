#!/usr/bin/env bash
# git add of every map of a tree (its .map files copied, folders kept) with
# mapclean as git's long-running filter (-git-filter), as its one-shot
# clean filter, and one `mapclean -s -stable -r` over a fresh copy of the
# tree, timed by hyperfine; then checks that both filters stored the same
# blobs.
#   bench/git_filter.sh PROGRAM TREE
set -euo pipefail
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tree=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/mapclean-git-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/maps"
(cd "$tree" && find . -iname '*.map' -print0 | tar --null -T - -cf -) | tar -C "$work/maps" -xf -
echo "$(find "$work/maps" -iname '*.map' | wc -l) maps, $(du -sh "$work/maps" | cut -f1)"
for kind in process clean; do
    cp -r "$work/maps" "$work/$kind"
    git -C "$work/$kind" init -q
    echo '*.[mM][aA][pP] filter=mapclean' >"$work/$kind/.gitattributes"
done
git -C "$work/process" config filter.mapclean.process "'$program' -quiet -stable -git-filter"
git -C "$work/clean" config filter.mapclean.clean "'$program' -quiet -stable -stdin-filename %f -"
hyperfine --warmup 1 --runs 10 \
    --prepare "rm -f '$work/process/.git/index'" -n 'git add, -git-filter' "git -C '$work/process' add -A" \
    --prepare "rm -f '$work/clean/.git/index'" -n 'git add, one-shot filter' "git -C '$work/clean' add -A" \
    --prepare "rm -rf '$work/copy' && cp -r '$work/maps' '$work/copy'" -n 'mapclean -s -stable -r' \
    "'$program' -s -quiet -stable -r '$work/copy'"
[ "$(git -C "$work/process" ls-files -s)" = "$(git -C "$work/clean" ls-files -s)" ] && echo "the same blobs from both filters"
