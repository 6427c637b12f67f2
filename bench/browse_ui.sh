#!/usr/bin/env bash
# The browse dialog on a 20,000-file image (the tree of bench/imaging.sh) and
# on an image with one folder of 20,000 files, through the main window,
# offscreen: the time from the command to the root on show against
# `wimlib-imagex dir` of the same image (median of alternating runs), and the
# longest time the UI thread was blocked in each step (opening, going into
# folders, sorting by every column, selecting all, closing), worst and median
# of the runs.
# Target: no step blocks the UI thread for more than 50 ms.
#   bench/browse_ui.sh [BUILD_DIR]           (default: build-bench, configured here)
#   FILES=20000 REPEATS=5 bench/browse_ui.sh
#   CACHE=/tmp/pellwick-bench FILES=200000 bench/browse_ui.sh   (keeps the tree and archive there)
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-20000}
repeats=${REPEATS:-5}

bench_build "$build" browse_ui_bench
bench="$build/bench/browse_ui_bench"

bench_work
bench_data "$work"
bench_tree "$files"
capture_in() {
    mkdir -p "$1/flat/many files"
    for i in $(seq "$files"); do
        printf 'entry %d\n' "$i" >"$1/flat/many files/entry $i.txt"
    done
    wimlib-imagex capture "$tree" "$1/browse.wim" tree --compress=LZX >/dev/null
    wimlib-imagex append "$1/flat" "$1/browse.wim" flat >/dev/null
    rm -rf "$1/flat"
}
cached "$data/browse_ui-$files" capture_in
wim="$data/browse_ui-$files/browse.wim"

declare -a ours peer
stalls="$work/stalls"
: >"$stalls"
for r in $(seq "$repeats"); do
    if [ $((r % 2)) -eq 1 ]; then
        out=$("$bench" "$wim" "/many files")
        peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
    else
        peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        out=$("$bench" "$wim" "/many files")
    fi
    ours+=("$(awk '/^root_ms/ {printf "%d", $2 * 1000}' <<<"$out")")
    grep '^stall_ms' <<<"$out" >>"$stalls"
    [ "$r" -eq 1 ] && grep '^listed' <<<"$out"
done

o=$(printf '%s\n' "${ours[@]}" | median)
p=$(printf '%s\n' "${peer[@]}" | median)
echo "browse dialog on $files files; median of $repeats alternating runs"
awk -v o="$o" -v p="$p" 'BEGIN {
    printf "command to root on show: pellwick %.1f ms, wimlib-imagex dir %.1f ms, ratio %.3f\n", o / 1000, p / 1000, o / p
}'
echo "longest UI stall per step, worst and median of the runs (target <= 50 ms):"
awk '{ key = $3; for (i = 4; i <= NF; i++) key = key " " $i; all[key] = all[key] " " $2 }
     END { for (k in all) { n = split(substr(all[k], 2), v, " "); for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
                            printf "  %6.1f ms  %6.1f ms  %s\n", v[n], v[int((n + 1) / 2)], k } }' "$stalls" | sort -k5
