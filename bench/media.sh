#!/usr/bin/env bash
# Archive-file operations of the imaging boundary against wimlib-imagex on one
# generated tree: ESD to WIM conversion (export into a new LZX archive), split
# into 16 MiB parts, optimize (rebuild after a deleted image) and verify, each
# through pellwick-wim (with the message callback the program registers) and
# through wimlib-imagex. Runs alternate between the two; each line gives the
# medians and their ratio. Target: every ratio at most 1.05. The last line
# times our verify of a copy with one damaged file (the search for damaged
# files that wimlib-imagex does not do) against our verify of the whole one.
#   bench/media.sh [BUILD_DIR]               (default: build-bench, configured here)
#   FILES=5000 REPEATS=5 bench/media.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
files=${FILES:-5000}
repeats=${REPEATS:-5}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLWICK_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target pellwick-wim >/dev/null
ours="$build/src/imaging/pellwick-wim"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Text-like files with every fifth file random bytes (about 40 MB).
tree="$work/tree"
block=""
for i in $(seq 200); do
    block+="line $i: installation media ship solid archives and split sets for small sticks"$'\n'
done
random="$work/random.bin"
head -c $((32 * 1024 * 1024)) /dev/urandom >"$random"
for d in $(seq 0 49); do
    mkdir -p "$tree/d$d"
done
for i in $(seq "$files"); do
    path="$tree/d$((i % 50))/file $i"
    if [ $((i % 5)) -eq 0 ]; then
        dd if="$random" of="$path.bin" iflag=skip_bytes,count_bytes status=none \
            skip=$(((i * 7919) % (24 * 1024 * 1024))) count=$((8192 + (i % 64) * 512))
    else
        printf 'file %d\n%s' "$i" "${block:$(((i * 31) % 9000)):$((600 + (i % 50) * 100))}" >"$path.txt"
    fi
done
victim="$tree/victim.bin"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$victim"
rm "$random"

# Untimed: the ESD and the WIM that the runs read, and an archive whose second
# image was deleted (its data still in the file) for optimize.
esd="$work/source.esd"
wim="$work/source.wim"
wimlib-imagex capture "$tree" "$esd" bench --solid >/dev/null
wimlib-imagex capture "$tree" "$wim" bench --compress=LZX >/dev/null
deleted="$work/deleted.wim"
cp "$wim" "$deleted"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/extra.bin"
mkdir "$work/extra" && mv "$work/extra.bin" "$work/extra/"
wimlib-imagex append "$work/extra" "$deleted" extra >/dev/null
wimlib-imagex delete "$deleted" 2 --soft >/dev/null
damaged="$work/damaged.wim"
cp "$wim" "$damaged"
python3 - "$damaged" "$victim" <<'EOF'
import sys
wim, victim = sys.argv[1], sys.argv[2]
data = open(victim, 'rb').read()
needle = data[len(data) // 2:len(data) // 2 + 64]
blob = bytearray(open(wim, 'rb').read())
at = blob.find(needle)
assert at >= 0
blob[at + 10] ^= 0x5A
open(wim, 'wb').write(blob)
EOF

# Runs "$@" once and prints its wall time in microseconds; fails when the
# command does (exit 3 is our verify's "damaged", expected on the damaged copy).
# The previous run's written data is flushed first.
time_us() {
    local start end status=0
    sync
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || status=$?
    end=$(date +%s%N)
    if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
        echo "media: $* failed ($status)" >&2
        return 1
    fi
    echo $(((end - start) / 1000))
}

median() {
    sort -n | sed -n "$(((repeats + 1) / 2))p"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -a convert_ours convert_peer split_ours split_peer optimize_ours optimize_peer verify_ours verify_peer damaged_ours
for r in $(seq "$repeats"); do
    rm -rf "$work/c1.wim" "$work/c2.wim" "$work/s1" "$work/s2"
    mkdir "$work/s1" "$work/s2"
    cp "$deleted" "$work/o1.wim"
    cp "$deleted" "$work/o2.wim"
    run_ours() {
        convert_ours+=("$(time_us "$ours" export "$esd" 1 "$work/c1.wim" --compress=lzx)")
        split_ours+=("$(time_us "$ours" split "$wim" "$work/s1/p.swm" 16)")
        optimize_ours+=("$(time_us "$ours" optimize "$work/o1.wim")")
        verify_ours+=("$(time_us "$ours" verify "$wim")")
        damaged_ours+=("$(time_us "$ours" verify "$damaged")")
    }
    run_peer() {
        convert_peer+=("$(time_us wimlib-imagex export "$esd" 1 "$work/c2.wim" --compress=LZX)")
        split_peer+=("$(time_us wimlib-imagex split "$wim" "$work/s2/p.swm" 16)")
        optimize_peer+=("$(time_us wimlib-imagex optimize "$work/o2.wim")")
        verify_peer+=("$(time_us wimlib-imagex verify "$wim")")
    }
    # Alternate who goes first, so that cache warmth and machine noise hit both alike.
    if [ $((r % 2)) -eq 1 ]; then run_ours; run_peer; else run_peer; run_ours; fi
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Both did the same work.
size() { stat -c %s "$1"; }
if [ "$(size "$work/c1.wim")" != "$(size "$work/c2.wim")" ] || ! wimlib-imagex verify "$work/c1.wim" >/dev/null 2>&1; then
    echo "media: the two conversions differ" >&2
    exit 1
fi
if [ "$(ls "$work/s1" | wc -l)" != "$(ls "$work/s2" | wc -l)" ] \
    || ! wimlib-imagex verify "$work/s1/p.swm" --ref="$work/s1/p*.swm" >/dev/null 2>&1; then
    echo "media: the two splits differ" >&2
    exit 1
fi
if [ "$(size "$work/o1.wim")" != "$(size "$work/o2.wim")" ] || ! wimlib-imagex verify "$work/o1.wim" >/dev/null 2>&1; then
    echo "media: the two rebuilt archives differ" >&2
    exit 1
fi
found=$("$ours" verify "$damaged" || true)
if ! grep -qx 'damaged: image 1: /victim.bin' <<<"$found"; then
    echo "media: verify did not name the damaged file" >&2
    exit 1
fi

report() {
    local what=$1 ours_us=$2 peer_us=$3 peer=${4:-wimlib-imagex}
    awk -v what="$what" -v ours="$ours_us" -v peer="$peer_us" -v name="$peer" 'BEGIN {
        printf "%-9s pellwick-wim %8.1f ms   %-14s %8.1f ms   ratio %.3f\n", what, ours / 1000, name, peer / 1000, ours / peer
    }'
}
m() { printf '%s\n' "$@" | median; }
echo "one tree of $files files, $(du -sm "$tree" | cut -f1) MB; median of $repeats alternating runs (target: ratio <= 1.05)"
echo "load average (1, 5, 15 min) before: $load_before; after: $load_after; $(nproc) cores"
report esd2wim "$(m "${convert_ours[@]}")" "$(m "${convert_peer[@]}")"
report split "$(m "${split_ours[@]}")" "$(m "${split_peer[@]}")"
report optimize "$(m "${optimize_ours[@]}")" "$(m "${optimize_peer[@]}")"
report verify "$(m "${verify_ours[@]}")" "$(m "${verify_peer[@]}")"
report damaged "$(m "${damaged_ours[@]}")" "$(m "${verify_ours[@]}")" "(whole, ours)"
