#!/usr/bin/env bash
# Opening and listing an archive of 200 images: Pellwick's main window against
# `wimlib-imagex info` on the same file, as a ratio of median times.
#   bench/archive_list.sh [BUILD_DIR]     (default: build-bench, configured here)
cd "$(dirname "$0")/.."
source bench/bench_common.sh
images=200
repeats=${REPEATS:-9}

bench_build "$build" archive_list_bench
bench="$build/bench/archive_list_bench"

bench_work
mkdir -p "$work/tree/sub"
printf 'first file\n' >"$work/tree/a.txt"
head -c 65536 /dev/zero >"$work/tree/sub/b.bin"
wim="$work/list.wim"
wimlib-imagex capture "$work/tree" "$wim" "映像 1" "说明 1" >/dev/null
for i in $(seq 2 "$images"); do
    printf '%s\n' "$i" >"$work/tree/a.txt"
    wimlib-imagex append "$work/tree" "$wim" "映像 $i" "说明 $i" >/dev/null
done

# Median wall time of a command over $repeats runs, in microseconds.
median_us() {
    local times=() start end
    for _ in $(seq "$repeats"); do
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=("$(( (end - start) / 1000 ))")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (repeats + 1) / 2 ))p"
}

peer_us=$(median_us wimlib-imagex info "$wim")
# The whole program once: start, open and list, exit (Qt start-up included).
process_us=$(median_us "$bench" "$wim" 1)

out=$("$bench" "$wim" "$repeats")
rows=$(awk '/^rows/ {print $2}' <<<"$out")
ours_ms=$(awk '/^median_ms/ {print $2}' <<<"$out")
if [ "$rows" != "$images" ]; then
    echo "archive_list: listed $rows rows, expected $images" >&2
    exit 1
fi

awk -v ours="$ours_ms" -v peer_us="$peer_us" -v process_us="$process_us" -v n="$images" 'BEGIN {
    peer = peer_us / 1000
    process = process_us / 1000
    printf "open and list %d images: pellwick %.1f ms (in the window), wimlib-imagex info %.1f ms (whole run), ratio %.2f\n", n, ours, peer, ours / peer
    printf "whole runs: pellwick bench process %.1f ms, wimlib-imagex info %.1f ms, ratio %.2f\n", process, peer, process / peer
}'
