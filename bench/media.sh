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
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-5000}
repeats=${REPEATS:-5}

bench_build "$build" pellwick-wim

bench_work

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

# measure NAME COMMAND...: runs the command once and appends its wall time
# and its processor time (user + system, children included), in ms, to the
# arrays NAME_wall and NAME_cpu. Processor time hardly moves with the load of
# other builds on the machine; wall time does. Fails when the command does
# (exit 3 is our verify's "damaged", expected on the damaged copy). The
# previous run's written data is flushed first.
measure() {
    local name=$1 status=0 times
    shift
    sync
    local TIMEFORMAT='%3R %3U %3S'
    times=$({ time "$@" >/dev/null 2>&1 || status=$?; } 2>&1; echo " $status")
    read -r real user sys status <<<"$(tr '\n' ' ' <<<"$times")"
    if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
        echo "media: $* failed ($status)" >&2
        exit 1
    fi
    declare -n wall_list="${name}_wall" cpu_list="${name}_cpu"
    wall_list+=("$(awk -v r="$real" 'BEGIN { printf "%.1f", r * 1000 }')")
    cpu_list+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", (u + s) * 1000 }')")
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for kind in convert split optimize verify; do
    declare -a "${kind}_ours_wall=()" "${kind}_ours_cpu=()" "${kind}_peer_wall=()" "${kind}_peer_cpu=()"
done
declare -a damaged_ours_wall=() damaged_ours_cpu=()
for r in $(seq "$repeats"); do
    rm -rf "$work/c1.wim" "$work/c2.wim" "$work/s1" "$work/s2"
    mkdir "$work/s1" "$work/s2"
    cp "$deleted" "$work/o1.wim"
    cp "$deleted" "$work/o2.wim"
    run_ours() {
        measure convert_ours "$ours" export "$esd" 1 "$work/c1.wim" --compress=lzx
        measure split_ours "$ours" split "$wim" "$work/s1/p.swm" 16
        measure optimize_ours "$ours" optimize "$work/o1.wim"
        measure verify_ours "$ours" verify "$wim"
        measure damaged_ours "$ours" verify "$damaged"
    }
    run_peer() {
        measure convert_peer wimlib-imagex export "$esd" 1 "$work/c2.wim" --compress=LZX
        measure split_peer wimlib-imagex split "$wim" "$work/s2/p.swm" 16
        measure optimize_peer wimlib-imagex optimize "$work/o2.wim"
        measure verify_peer wimlib-imagex verify "$wim"
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

m() { printf '%s\n' "$@" | median; }
# report WHAT OURS PEER [PEER_NAME]: medians of wall and processor time, and their ratios.
report() {
    declare -n ow="${2}_wall" oc="${2}_cpu" pw="${3}_wall" pc="${3}_cpu"
    awk -v what="$1" -v name="${4:-wimlib-imagex}" -v ow="$(m "${ow[@]}")" -v oc="$(m "${oc[@]}")" \
        -v pw="$(m "${pw[@]}")" -v pc="$(m "${pc[@]}")" 'BEGIN {
        printf "%-9s pellwick-wim %8.1f ms (cpu %7.1f)   %-14s %8.1f ms (cpu %7.1f)   ratio %.3f (cpu %.3f)\n",
            what, ow, oc, name, pw, pc, ow / pw, (pc > 0 ? oc / pc : 0)
    }'
}
echo "one tree of $files files, $(du -sm "$tree" | cut -f1) MB; median of $repeats alternating runs (target: ratio <= 1.05)"
echo "load average (1, 5, 15 min) before: $load_before; after: $load_after; $(nproc) cores"
report esd2wim convert_ours convert_peer
report split split_ours split_peer
report optimize optimize_ours optimize_peer
report verify verify_ours verify_peer
report damaged damaged_ours verify_ours "(whole, ours)"
