#!/usr/bin/env bash
# A mounted image against the peer, on the 20,000-file bench image (LZX):
# - read: every file of the image read through the mount (pellwick-wim mount,
#   tar of the whole folder, unmount) against wimlib-imagex apply of the
#   whole image into a new folder;
# - commit: the same 1 % of the files (200) rewritten in a read-write mount
#   of a copy, then pellwick-wim unmount --commit against wimlib-imagex
#   unmount --commit (the unmounts alone are timed).
# Runs alternate between the two; each line gives the medians and their ratio.
# Needs root and /dev/fuse.
#   bench/mount.sh [BUILD_DIR]             (default: build-bench, configured here)
#   FILES=20000 REPEATS=5 bench/mount.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
files=${FILES:-20000}
repeats=${REPEATS:-5}

source bench/bench_common.sh
bench_build "$build" pellwick-wim
ours="$build/src/imaging/pellwick-wim"

work=$(mktemp -d)
export PELLWICK_MOUNT_RECORDS="$work/records"
cleanup() {
    for m in "$work"/mnt-*; do fusermount -u -z "$m" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

bench_data "$work"
bench_tree "$files"
empty="$work/empty.conf"
: >"$empty"
base="$work/base.wim"
wimlib-imagex capture "$tree" "$base" bench --compress=LZX --config="$empty" >/dev/null
mkdir -p "$work/mnt-ours" "$work/mnt-peer" "$work/stage"

# tar notices an archive written to /dev/null and then reads no file data: a pipe makes it read.
read_ours() {
    "$ours" mount "$base" 1 "$work/mnt-ours"
    tar -cf - -C "$work/mnt-ours" . | cat >/dev/null
    "$ours" unmount "$work/mnt-ours"
}
read_peer() {
    rm -rf "$work/out"
    wimlib-imagex apply "$base" 1 "$work/out" >/dev/null
}
# Rewrites every hundredth file of the mounted image.
change() {
    local i
    for i in $(seq 100 100 "$files"); do
        local path="$1/d$((i % 100))/e$((i % 5))/file $i"
        [ -e "$path.txt" ] && printf 'changed %d\n' "$i" >>"$path.txt"
        [ -e "$path.bin" ] && printf 'changed %d\n' "$i" >>"$path.bin"
    done
}
commit_ours() { "$ours" unmount "$work/mnt-ours" --commit; }
commit_peer() { wimlib-imagex unmount "$work/mnt-peer" --commit >/dev/null; }

declare -a read_o read_p commit_o commit_p
for r in $(seq "$repeats"); do
    cp "$base" "$work/ours.wim"
    cp "$base" "$work/peer.wim"
    "$ours" mount "$work/ours.wim" 1 "$work/mnt-ours" --rw --staging "$work/stage"
    wimlib-imagex mountrw "$work/peer.wim" 1 "$work/mnt-peer" --staging-dir="$work/stage" >/dev/null
    change "$work/mnt-ours"
    change "$work/mnt-peer"
    # Alternate who goes first, so that cache warmth and machine noise hit both alike.
    if [ $((r % 2)) -eq 1 ]; then
        commit_o+=("$(time_us commit_ours)")
        commit_p+=("$(time_us commit_peer)")
        read_o+=("$(time_us read_ours)")
        read_p+=("$(time_us read_peer)")
    else
        commit_p+=("$(time_us commit_peer)")
        commit_o+=("$(time_us commit_ours)")
        read_p+=("$(time_us read_peer)")
        read_o+=("$(time_us read_ours)")
    fi
done

# Both commits made the same image.
strip() { wimlib-imagex dir "$1" 1 --detailed | grep -Ev 'Time|Offset in WIM|Compressed size|Link Group ID'; }
if ! diff <(strip "$work/ours.wim") <(strip "$work/peer.wim") >/dev/null; then
    echo "mount: the two commits left different images" >&2
    exit 1
fi

report() {
    local what=$1 ours_us=$2 peer_us=$3
    awk -v what="$what" -v ours="$ours_us" -v peer="$peer_us" 'BEGIN {
        printf "%-7s pellwick-wim %8.1f ms   wimlib-imagex %8.1f ms   ratio %.3f\n", what, ours / 1000, peer / 1000, ours / peer
    }'
}
echo "an image of $files files ($(du -sm "$tree" | cut -f1) MB), LZX; median of $repeats alternating runs; $(uptime)"
report read "$(printf '%s\n' "${read_o[@]}" | median)" "$(printf '%s\n' "${read_p[@]}" | median)"
report commit "$(printf '%s\n' "${commit_o[@]}" | median)" "$(printf '%s\n' "${commit_p[@]}" | median)"
