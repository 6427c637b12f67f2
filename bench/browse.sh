#!/usr/bin/env bash
# Browsing against wimlib-imagex on the tree of bench/imaging.sh (20,000 files)
# plus one 4 MB file, in one LZX archive:
#   tree  opening the image's tree and listing its root (browse_bench, what the
#         browse dialog's first view costs) against `wimlib-imagex dir` of the
#         whole image;
#   file  extracting the 4 MB file (pellwick-wim extract) against
#         `wimlib-imagex extract --dest-dir`;
#   dir   the whole image's listing, `pellwick-wim dir` (one walk of the
#         library's own entries; the process then ends without freeing the
#         tree, where the peer frees it) against `wimlib-imagex dir`.
# Runs alternate between the two; each line gives the medians and their ratio.
# browse_bench exits once the root is listed, as the dialog's user waits for
# no more; one more line, for information, times it with the teardown of its
# handles (freeing the tree).
# Target: tree, file and dir at most 1.05.
#   bench/browse.sh [BUILD_DIR]             (default: build-bench, configured here)
#   FILES=20000 REPEATS=15 bench/browse.sh
#   CACHE=/tmp/pellwick-bench FILES=200000 bench/browse.sh   (keeps the tree and archive there)
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-20000}
repeats=${REPEATS:-15}

bench_build "$build" pellwick-wim browse_bench
bench="$build/bench/browse_bench"

bench_work

bench_data "$work"
bench_tree "$files"
large="/d7/e2/large file.bin"
capture_in() {
    head -c $((4 * 1024 * 1024)) /dev/urandom >"$tree$large"
    wimlib-imagex capture "$tree" "$1/browse.wim" bench --compress=LZX >/dev/null
}
cached "$data/browse-$files" capture_in
wim="$data/browse-$files/browse.wim"

# Both give the same answers (untimed; this also warms the page cache).
root_count=$("$bench" "$wim" 1)
peer_root=$(wimlib-imagex dir "$wim" 1 | awk -F/ 'NF == 2 && $2 != ""' | wc -l)
if [ "$root_count" != "$peer_root" ]; then
    echo "browse: the root holds $root_count entries here, $peer_root for wimlib-imagex" >&2
    exit 1
fi
if ! cmp -s <("$ours" dir "$wim" 1) <(wimlib-imagex dir "$wim" 1); then
    echo "browse: pellwick-wim dir differs from wimlib-imagex dir" >&2
    exit 1
fi
mkdir "$work/x1" "$work/x2"
"$ours" extract "$wim" 1 "$work/x1" "$large"
wimlib-imagex extract "$wim" 1 "$large" --dest-dir="$work/x2" >/dev/null
if ! cmp -s "$work/x1/large file.bin" "$tree$large" || ! cmp -s "$work/x2/large file.bin" "$tree$large"; then
    echo "browse: an extracted file differs from the original" >&2
    exit 1
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -a tree_ours tree_peer close_ours close_peer file_ours file_peer dir_ours dir_peer
for r in $(seq "$repeats"); do
    rm -rf "$work/x1" "$work/x2"
    mkdir "$work/x1" "$work/x2"
    # Alternate who goes first, so that cache warmth and machine noise hit both alike.
    if [ $((r % 2)) -eq 1 ]; then
        tree_ours+=("$(time_us "$bench" "$wim" 1)")
        tree_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        close_ours+=("$(time_us "$bench" --close "$wim" 1)")
        close_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        file_ours+=("$(time_us "$ours" extract "$wim" 1 "$work/x1" "$large")")
        file_peer+=("$(time_us wimlib-imagex extract "$wim" 1 "$large" --dest-dir="$work/x2")")
        dir_ours+=("$(time_us "$ours" dir "$wim" 1)")
        dir_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
    else
        tree_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        tree_ours+=("$(time_us "$bench" "$wim" 1)")
        close_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        close_ours+=("$(time_us "$bench" --close "$wim" 1)")
        file_peer+=("$(time_us wimlib-imagex extract "$wim" 1 "$large" --dest-dir="$work/x2")")
        file_ours+=("$(time_us "$ours" extract "$wim" 1 "$work/x1" "$large")")
        dir_peer+=("$(time_us wimlib-imagex dir "$wim" 1)")
        dir_ours+=("$(time_us "$ours" dir "$wim" 1)")
    fi
done

report() {
    local what=$1 ours_us=$2 peer_us=$3
    awk -v what="$what" -v ours="$ours_us" -v peer="$peer_us" 'BEGIN {
        printf "%-10s pellwick %8.1f ms   wimlib-imagex %8.1f ms   ratio %.3f\n", what, ours / 1000, peer / 1000, ours / peer
    }'
}
echo "one tree of $files files and a 4 MB file, LZX; median of $repeats alternating runs (target: ratio <= 1.05)"
echo "load average before: $load_before"
report tree+root "$(printf '%s\n' "${tree_ours[@]}" | median)" "$(printf '%s\n' "${tree_peer[@]}" | median)"
report file "$(printf '%s\n' "${file_ours[@]}" | median)" "$(printf '%s\n' "${file_peer[@]}" | median)"
report "(+close)" "$(printf '%s\n' "${close_ours[@]}" | median)" "$(printf '%s\n' "${close_peer[@]}" | median)"
report "dir all" "$(printf '%s\n' "${dir_ours[@]}" | median)" "$(printf '%s\n' "${dir_peer[@]}" | median)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
