#!/usr/bin/env bash
# Applying one image onto an NTFS volume on a loop device:
# - ours (pellwick-wim apply WIM 1 DEVICE, NTFS-3G mode) against
#   wimlib-imagex apply WIM 1 DEVICE, each onto a freshly formatted volume
#   (the format is not timed); runs alternate. Target: ratio at most 1.05.
# - the drive apply before and after NTFS-3G mode, format included: before,
#   mkntfs, an ntfs-3g mount and pellwick-wim extracting into the mount;
#   after, mkntfs and pellwick-wim onto the device. After should be faster.
# Every timed command ends with its data on the disk (sync).
# Needs root, loop devices, mkntfs and ntfs-3g.
#   bench/ntfs.sh [BUILD_DIR]                (default: build-bench, configured here)
#   FILES=5000 REPEATS=7 bench/ntfs.sh
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-5000}
repeats=${REPEATS:-7}

if [ "$(id -u)" -ne 0 ]; then
    echo "ntfs: attaching loop devices and mounting need root" >&2
    exit 2
fi
for tool in losetup mkntfs ntfs-3g wimlib-imagex; do
    command -v "$tool" >/dev/null || { echo "ntfs: $tool is not installed" >&2; exit 2; }
done

bench_build "$build" pellwick-wim

work=$(mktemp -d)
device=""
cleanup() {
    mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
    [ -n "$device" ] && losetup --detach "$device"
    rm -rf "$work"
}
trap cleanup EXIT

# Folders of text files, every tenth one random bytes (about 25 MB for 5000).
tree="$work/tree"
line="an image applied to a drive keeps its security descriptors, attributes and streams"
head -c $((8 * 1024 * 1024)) /dev/urandom >"$work/random.bin"
for i in $(seq "$files"); do
    dir="$tree/Program Files/app$((i % 40))/sub$((i % 7))"
    [ -d "$dir" ] || mkdir -p "$dir"
    if [ $((i % 10)) -eq 0 ]; then
        dd if="$work/random.bin" of="$dir/data $i.bin" iflag=skip_bytes,count_bytes status=none \
            skip=$(((i * 7919) % (4 * 1024 * 1024))) count=$((8192 + (i % 64) * 1024))
    else
        for _ in $(seq $((2 + i % 40))); do echo "$i: $line"; done >"$dir/file $i.txt"
    fi
done
rm "$work/random.bin"
wim="$work/image.wim"
wimlib-imagex capture "$tree" "$wim" bench --compress=LZX >/dev/null

truncate -s 1G "$work/volume.img"
device=$(losetup --find --show "$work/volume.img")
mkdir "$work/mnt"
format() { mkntfs --quick --force --quiet "$device" >/dev/null 2>&1; }

# Unlike bench_common's, the writes to the device are flushed inside the time.
time_us() {
    local start end
    sync
    start=$(date +%s%N)
    "$@" >/dev/null
    sync
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

before_flow() {
    format
    ntfs-3g "$device" "$work/mnt"
    "$ours" apply "$wim" 1 "$work/mnt"
    umount "$work/mnt"
}
after_flow() {
    format
    "$ours" apply "$wim" 1 "$device"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -a ours_us peer_us before_us after_us
for r in $(seq "$repeats"); do
    if [ $((r % 2)) -eq 1 ]; then
        format; ours_us+=("$(time_us "$ours" apply "$wim" 1 "$device")")
        format; peer_us+=("$(time_us wimlib-imagex apply "$wim" 1 "$device")")
        before_us+=("$(time_us before_flow)")
        after_us+=("$(time_us after_flow)")
    else
        format; peer_us+=("$(time_us wimlib-imagex apply "$wim" 1 "$device")")
        format; ours_us+=("$(time_us "$ours" apply "$wim" 1 "$device")")
        after_us+=("$(time_us after_flow)")
        before_us+=("$(time_us before_flow)")
    fi
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The last apply (ours, onto the device) holds the whole tree.
ntfs-3g -o ro "$device" "$work/mnt"
if ! diff -r "$work/mnt" "$tree" >/dev/null; then
    echo "ntfs: the volume does not hold the tree that was captured" >&2
    exit 1
fi
umount "$work/mnt"

report() {
    awk -v what="$1" -v a="$2" -v b="$3" -v an="$4" -v bn="$5" 'BEGIN {
        printf "%-22s %s %8.1f ms   %s %8.1f ms   ratio %.3f\n", what, an, a / 1000, bn, b / 1000, a / b
    }'
}
echo "one image of $files files, $(du -sm "$tree" | cut -f1) MB, LZX, onto a 1 GiB loop device;" \
     "median of $repeats alternating runs; load average $load_before before, $load_after after ($(nproc) cores)"
report "apply onto the device" "$(printf '%s\n' "${ours_us[@]}" | median)" \
    "$(printf '%s\n' "${peer_us[@]}" | median)" "pellwick-wim" "wimlib-imagex"
echo "  (target: ratio <= 1.05)"
report "drive apply, format included" "$(printf '%s\n' "${after_us[@]}" | median)" \
    "$(printf '%s\n' "${before_us[@]}" | median)" "NTFS-3G mode" "into an ntfs-3g mount"
echo "  (ratio below 1: faster than before)"
