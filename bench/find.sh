#!/usr/bin/env bash
# The browse dialog's find on an image of FILES entries (default 200,000),
# through the main window, offscreen: the time from Enter in the find box to
# the last result on show, against `wimlib-imagex dir | grep` finding the same
# names (median of alternating runs), and the longest time the UI thread was
# blocked while it found.
# Target: no UI stall over 50 ms; results as they are found.
#   bench/find.sh [BUILD_DIR]           (default: build-bench, configured here)
#   FILES=200000 REPEATS=5 FIND=report CACHE=/tmp/pellwick-bench bench/find.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
files=${FILES:-200000}
repeats=${REPEATS:-5}
find=${FIND:-report 1}

source bench/bench_common.sh
bench_build "$build" browse_ui_bench
bench="$build/bench/browse_ui_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"
bench_data "$work"
# Entries, not data: FILES empty files in the bench tree's folders (d0..d99/e0..e4), every 100th a report.
make_entries_in() {
    local d e i path
    for d in $(seq 0 99); do for e in $(seq 0 4); do mkdir -p "$1/tree/d$d/e$e"; done; done
    for i in $(seq "$files"); do
        path="$1/tree/d$((i % 100))/e$((i % 5))"
        if [ $((i % 100)) -eq 0 ]; then : >"$path/report $i.txt"; else : >"$path/item $i.dat"; fi
    done
    wimlib-imagex capture "$1/tree" "$1/find.wim" one --compress=LZX >/dev/null
    wimlib-imagex append "$1/tree" "$1/find.wim" two >/dev/null
    rm -rf "$1/tree"
}
cached "$data/find-$files" make_entries_in
wim="$data/find-$files/find.wim"

peer_find() { wimlib-imagex dir "$wim" 1 | grep -i -- "/[^/]*$find[^/]*\$" | wc -l; }
echo "found by the peer: $(peer_find)"
declare -a ours peer
stalls="$work/stalls"
: >"$stalls"
for r in $(seq "$repeats"); do
    if [ $((r % 2)) -eq 1 ]; then
        out=$("$bench" "$wim" "/d7" "$find")
        peer+=("$(time_us peer_find)")
    else
        peer+=("$(time_us peer_find)")
        out=$("$bench" "$wim" "/d7" "$find")
    fi
    ours+=("$(awk '/^find_ms/ {printf "%d", $2 * 1000}' <<<"$out")")
    grep "^stall_ms .* find " <<<"$out" >>"$stalls"
    [ "$r" -eq 1 ] && grep '^found' <<<"$out"
done

o=$(printf '%s\n' "${ours[@]}" | median)
p=$(printf '%s\n' "${peer[@]}" | median)
echo "find \"$find\" on $files entries; median of $repeats alternating runs; load: $(uptime | sed 's/.*load average: //')"
awk -v o="$o" -v p="$p" 'BEGIN {
    printf "Enter to all results: pellwick %.1f ms, wimlib-imagex dir | grep %.1f ms, ratio %.3f\n", o / 1000, p / 1000, o / p
}'
awk '{ print $2 }' "$stalls" | sort -n | awk '{ v[NR] = $1 } END { printf "longest UI stall while finding: worst %.1f ms, median %.1f ms (target <= 50 ms)\n", v[NR], v[int((NR + 1) / 2)] }'
