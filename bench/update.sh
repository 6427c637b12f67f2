#!/usr/bin/env bash
# Changing an image's files in place against wimlib-imagex update, with the
# same commands on copies of one archive of the 20,000-file bench tree:
# adding a folder of 5,000 files (100 MB, random bytes), and deleting one
# folder (d7, 200 files). Runs alternate between the two; each line gives the
# medians and their ratio (target: at most 1.05). Our commits are synced to
# disk before they are reported done (the peer's are not): that cost is
# inside our times.
#   bench/update.sh [BUILD_DIR]             (default: build-bench, configured here)
#   FILES=20000 REPEATS=5 bench/update.sh
cd "$(dirname "$0")/.."
source bench/bench_common.sh
files=${FILES:-20000}
repeats=${REPEATS:-5}

bench_build "$build" pellwick-wim

bench_work

tree="$work/tree"
make_bench_tree "$tree" "$files"
empty="$work/empty.conf"
: >"$empty"
base="$work/base.wim"
wimlib-imagex capture "$tree" "$base" bench --compress=LZX --config="$empty" >/dev/null

# 50 folders of 100 files of 20,972 bytes each.
added="$work/added"
for f in $(seq 0 49); do
    mkdir -p "$added/f$f"
    head -c $((100 * 20972)) /dev/urandom | split -a 3 -d -b 20972 - "$added/f$f/part"
done
echo "add $added /added" >"$work/add.cmd"
echo "delete /d7" >"$work/delete.ours"
echo "delete --recursive /d7" >"$work/delete.peer"

declare -a add_ours add_peer delete_ours delete_peer
for r in $(seq "$repeats"); do
    for who in ours peer; do
        cp "$base" "$work/$who-add.wim"
        cp "$base" "$work/$who-delete.wim"
    done
    # Alternate who goes first, so that cache warmth and machine noise hit both alike.
    if [ $((r % 2)) -eq 1 ]; then
        add_ours+=("$(time_us "$ours" update "$work/ours-add.wim" 1 <"$work/add.cmd")")
        add_peer+=("$(time_us wimlib-imagex update "$work/peer-add.wim" 1 <"$work/add.cmd")")
        delete_ours+=("$(time_us "$ours" update "$work/ours-delete.wim" 1 <"$work/delete.ours")")
        delete_peer+=("$(time_us wimlib-imagex update "$work/peer-delete.wim" 1 <"$work/delete.peer")")
    else
        add_peer+=("$(time_us wimlib-imagex update "$work/peer-add.wim" 1 <"$work/add.cmd")")
        add_ours+=("$(time_us "$ours" update "$work/ours-add.wim" 1 <"$work/add.cmd")")
        delete_peer+=("$(time_us wimlib-imagex update "$work/peer-delete.wim" 1 <"$work/delete.peer")")
        delete_ours+=("$(time_us "$ours" update "$work/ours-delete.wim" 1 <"$work/delete.ours")")
    fi
done

# Both did the same work.
for op in add delete; do
    if ! diff <(wimlib-imagex dir "$work/ours-$op.wim" 1) <(wimlib-imagex dir "$work/peer-$op.wim" 1) >/dev/null; then
        echo "update: the two ${op}s left different images" >&2
        exit 1
    fi
done

report() {
    local what=$1 ours_us=$2 peer_us=$3
    awk -v what="$what" -v ours="$ours_us" -v peer="$peer_us" 'BEGIN {
        printf "%-7s pellwick-wim %8.1f ms   wimlib-imagex %8.1f ms   ratio %.3f\n", what, ours / 1000, peer / 1000, ours / peer
    }'
}
echo "an image of $files files ($(du -sm "$tree" | cut -f1) MB), LZX; add: $(du -sm "$added" | cut -f1) MB in" \
    "$(find "$added" -type f | wc -l) files; median of $repeats alternating runs (target: ratio <= 1.05); $(uptime)"
report add "$(printf '%s\n' "${add_ours[@]}" | median)" "$(printf '%s\n' "${add_peer[@]}" | median)"
report delete "$(printf '%s\n' "${delete_ours[@]}" | median)" "$(printf '%s\n' "${delete_peer[@]}" | median)"
