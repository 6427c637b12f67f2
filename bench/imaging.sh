#!/usr/bin/env bash
# The imaging boundary against wimlib-imagex on one generated tree of 20,000
# files: capture (LZX, into a new archive), apply and export, each timed through
# pellwick-wim (which registers a message callback that tests every path, as the
# program does) and through wimlib-imagex with the same compression. Runs
# alternate between the two; each line gives the medians and their ratio.
# Target: every ratio at most 1.05. Our commits are synced to disk before they
# are reported done (the peer's are not): that cost is inside our times, and a
# line of its own shows it, timed as an fsync of the peer's fresh archive. The
# last lines give the bytes one edit of an image's texts adds to the archive,
# and what the guard against other programs (the archive's file lock and the
# looks at its identity) adds to an edit's time (target: under 5 ms).
#   bench/imaging.sh [BUILD_DIR]             (default: build-bench, configured here)
#   FILES=20000 REPEATS=7 bench/imaging.sh
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-20000}
repeats=${REPEATS:-7}

bench_build "$build" pellwick-wim edit_lock_bench

bench_work

# The benchmarks' common tree.
tree="$work/tree"
make_bench_tree "$tree" "$files"
empty="$work/empty.conf"
: >"$empty"

# Untimed: warm the page cache and make the archive that apply and export read.
source_wim="$work/source.wim"
wimlib-imagex capture "$tree" "$source_wim" bench --compress=LZX --config="$empty" >/dev/null
"$ours" capture "$tree" "$work/warm.wim" bench >/dev/null

# Times an fsync of one file that was just written (its data still dirty).
sync_us() {
    local start end
    start=$(date +%s%N)
    sync "$1"
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

declare -a capture_ours capture_peer apply_ours apply_peer export_ours export_peer capture_sync export_sync
for r in $(seq "$repeats"); do
    rm -rf "$work/c1.wim" "$work/c2.wim" "$work/a1" "$work/a2" "$work/e1.wim" "$work/e2.wim"
    mkdir "$work/a1" "$work/a2"
    # Alternate who goes first, so that cache warmth and machine noise hit both alike.
    if [ $((r % 2)) -eq 1 ]; then
        capture_ours+=("$(time_us "$ours" capture "$tree" "$work/c1.wim" bench)")
        capture_peer+=("$(time_us wimlib-imagex capture "$tree" "$work/c2.wim" bench --compress=LZX --config="$empty")")
        capture_sync+=("$(sync_us "$work/c2.wim")")
        apply_ours+=("$(time_us "$ours" apply "$source_wim" 1 "$work/a1")")
        apply_peer+=("$(time_us wimlib-imagex apply "$source_wim" 1 "$work/a2")")
        export_ours+=("$(time_us "$ours" export "$source_wim" 1 "$work/e1.wim")")
        export_peer+=("$(time_us wimlib-imagex export "$source_wim" 1 "$work/e2.wim")")
        export_sync+=("$(sync_us "$work/e2.wim")")
    else
        capture_peer+=("$(time_us wimlib-imagex capture "$tree" "$work/c2.wim" bench --compress=LZX --config="$empty")")
        capture_sync+=("$(sync_us "$work/c2.wim")")
        capture_ours+=("$(time_us "$ours" capture "$tree" "$work/c1.wim" bench)")
        apply_peer+=("$(time_us wimlib-imagex apply "$source_wim" 1 "$work/a2")")
        apply_ours+=("$(time_us "$ours" apply "$source_wim" 1 "$work/a1")")
        export_peer+=("$(time_us wimlib-imagex export "$source_wim" 1 "$work/e2.wim")")
        export_sync+=("$(sync_us "$work/e2.wim")")
        export_ours+=("$(time_us "$ours" export "$source_wim" 1 "$work/e1.wim")")
    fi
done

# Both did the same work.
count_of() { wimlib-imagex info "$1" 1 | awk -F: '/^File Count/ {gsub(/ /, "", $2); print $2}'; }
if [ "$(count_of "$work/c1.wim")" != "$(count_of "$work/c2.wim")" ]; then
    echo "imaging: the two captures hold different numbers of files" >&2
    exit 1
fi
if ! diff -r "$work/a1" "$tree" >/dev/null; then
    echo "imaging: pellwick-wim applied a different tree" >&2
    exit 1
fi
if [ "$(count_of "$work/e1.wim")" != "$(count_of "$work/e2.wim")" ]; then
    echo "imaging: the two exports differ" >&2
    exit 1
fi

report() {
    local what=$1 ours_us=$2 peer_us=$3
    awk -v what="$what" -v ours="$ours_us" -v peer="$peer_us" 'BEGIN {
        printf "%-8s pellwick-wim %8.1f ms   wimlib-imagex %8.1f ms   ratio %.3f\n", what, ours / 1000, peer / 1000, ours / peer
    }'
}
echo "one tree of $files files, $(du -sm "$tree" | cut -f1) MB, LZX; median of $repeats alternating runs (target: ratio <= 1.05)"
report capture "$(printf '%s\n' "${capture_ours[@]}" | median)" "$(printf '%s\n' "${capture_peer[@]}" | median)"
report apply "$(printf '%s\n' "${apply_ours[@]}" | median)" "$(printf '%s\n' "${apply_peer[@]}" | median)"
report export "$(printf '%s\n' "${export_ours[@]}" | median)" "$(printf '%s\n' "${export_peer[@]}" | median)"

sync_report() {
    local what=$1 sync_us=$2 peer_us=$3 size=$4
    awk -v what="$what" -v s="$sync_us" -v peer="$peer_us" -v mb="$size" 'BEGIN {
        printf "sync     after %-7s %8.1f ms for %s MB   %.1f %% of the peer'"'"'s %s\n", what, s / 1000, mb, 100 * s / peer, what
    }'
}
sync_report capture "$(printf '%s\n' "${capture_sync[@]}" | median)" "$(printf '%s\n' "${capture_peer[@]}" | median)" \
    "$(du -m "$work/c2.wim" | cut -f1)"
sync_report export "$(printf '%s\n' "${export_sync[@]}" | median)" "$(printf '%s\n' "${export_peer[@]}" | median)" \
    "$(du -m "$work/e2.wim" | cut -f1)"

# An edit of an image's texts appends the blob table and the XML again
# (reclaimed by a later optimize).
size_before=$(stat -c %s "$work/c1.wim")
"$ours" setinfo "$work/c1.wim" 1 renamed "a new description" >/dev/null
size_after=$(stat -c %s "$work/c1.wim")
echo "edit     adds $((size_after - size_before)) bytes to an archive of $size_before bytes ($files files)"

# The guard timed alone, beside whole edits of the same archive.
read -r _ edit_ms _ guard_us < <("$build/bench/edit_lock_bench" "$work/c1.wim" 21)
awk -v e="$edit_ms" -v g="$guard_us" 'BEGIN {
    printf "edit     %.1f ms each; the lock and identity checks add %.1f us of it (target: under 5 ms)\n", e, g
}'
