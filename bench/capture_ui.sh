#!/usr/bin/env bash
# A capture of 20,000 files through Pellwick's window against `wimlib-imagex
# capture` of the same tree with the eight default exclusions as its config
# file, alternating runs; prints the ratio of median times and the longest time
# the UI thread was blocked during Pellwick's captures.
#   bench/capture_ui.sh [BUILD_DIR]      (default: build-bench, configured here)
# As root the tree sits on a tmpfs of its own, so that both sides exclude the
# same paths (Pellwick's entries are relative to the drive's root).
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-20000}
runs=${RUNS:-3}

bench_build "$build" capture_ui_bench
bench="$build/bench/capture_ui_bench"

work=$(mktemp -d)
tree="$work/tree"
mkdir -p "$tree"
mounted=0
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs none "$tree" 2>/dev/null; then
    mounted=1
fi
cleanup() {
    [ "$mounted" = 1 ] && umount -l "$tree" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"

# The tree: $files small files of varied content in 200 folders, plus paths the
# defaults leave out.
python3 - "$tree" "$files" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
for i in range(n):
    d = os.path.join(root, "d%03d" % (i % 200), "s%d" % (i % 7))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(rnd.randint(64, 2048))))
for p in ["pagefile.sys", "hiberfil.sys", "windows/temp/a.tmp", "windows/logs/x.log",
          "system volume information/t"]:
    full = os.path.join(root, p)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(b"x" * 4096)
PY

config="$work/exclusions.ini"
cat >"$config" <<'CFG'
[ExclusionList]
\hiberfil.sys
\pagefile.sys
\swapfile.sys
\$recycle.bin
\system volume information
\windows\logs
\windows\csc
\windows\temp
CFG

ours=()
peer=()
stalls=()
for r in $(seq "$runs"); do
    rm -f "$work/ours.wim" "$work/peer.wim"
    out=$("$bench" "$tree" "$work/ours.wim")
    ours+=("$(awk '/^capture_ms/ {print $2}' <<<"$out")")
    stalls+=("$(awk '/^longest_ui_stall_ms/ {print $2}' <<<"$out")")
    start=$(date +%s%N)
    wimlib-imagex capture "$tree" "$work/peer.wim" --compress=LZX --config="$config" >/dev/null
    end=$(date +%s%N)
    peer+=("$(awk -v ns=$((end - start)) 'BEGIN {printf "%.1f", ns / 1e6}')")
done

median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
max() { printf '%s\n' "$@" | sort -g | tail -n 1; }
o=$(median "${ours[@]}")
p=$(median "${peer[@]}")
s=$(max "${stalls[@]}")
ours_files=$(wimlib-imagex dir "$work/ours.wim" 1 | wc -l)
peer_files=$(wimlib-imagex dir "$work/peer.wim" 1 | wc -l)
awk -v o="$o" -v p="$p" -v s="$s" -v n="$files" -v of="$ours_files" -v pf="$peer_files" -v m="$mounted" 'BEGIN {
    printf "capture of %d files (%s): pellwick %.0f ms, wimlib-imagex %.0f ms, ratio %.3f (target <= 1.05)\n", n, (m ? "tmpfs root" : "plain folder"), o, p, o / p
    printf "paths in the image: pellwick %d, wimlib-imagex %d\n", of, pf
    printf "longest UI stall during the captures: %.1f ms\n", s
}'
