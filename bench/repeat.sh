#!/usr/bin/env bash
# A repeat capture: an archive holds an image of a tree, 1 % of the tree's
# files change (each grows by a line), and the tree is captured into the
# archive again. pellwick-wim's capture (which takes unchanged files from the
# earlier image) is timed against wimlib-imagex append of the same tree (which
# reads every file), each on its own copy of the archive, on a disk folder
# (not tmpfs), with a cold page cache (tree and archive dropped from memory
# before each run, where the machine lets us) and a warm one. Runs alternate
# between the two; each line gives the medians and their ratio.
# Goals: cold at most 0.3, warm at most 0.7, --full-read at most 1.05.
# For information, wimlib-imagex append --update-of=1 on the same copy: the
# engine's own reference mode, what our capture asks of it. Warm, most of the
# time of both goes to work a reference cannot spare: compressing the changed
# files (every hundredth file is one of the random, incompressible ones) and
# the new image's metadata (on one thread in the engine).
# Our commit is synced to disk before it is reported done, the peer's is not:
# that cost is inside our times.
#   bench/repeat.sh [BUILD_DIR]          (default: build-bench, configured here)
#   SIZES="20000 100000" REPEATS=5 BENCH_DIR=/var/tmp bench/repeat.sh
cd "$(dirname "$0")/.."
source bench/bench_common.sh
sizes=${SIZES:-20000 100000}
repeats=${REPEATS:-5}
parent=${BENCH_DIR:-/var/tmp}

bench_build "$build" pellwick-wim
ours="$(pwd)/$build/src/imaging/pellwick-wim"

if [ "$(stat -f -c %T "$parent")" = tmpfs ]; then
    echo "repeat: $parent is a tmpfs; give a folder on a disk in BENCH_DIR" >&2
    exit 1
fi
bench_work "$parent"
empty="$work/empty.conf"
: >"$empty"

# Whether this machine lets us drop the page cache (root, and a kernel that
# is not a container's shared one refusing it).
cold=0
if sync && { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
    cold=1
    echo "cold page cache: dropped before every cold run (echo 3 > /proc/sys/vm/drop_caches works here)"
else
    echo "cold page cache: not available here (cannot write /proc/sys/vm/drop_caches); cold lines are skipped"
fi

# Runs "$@" after copying $base to $run (untimed), from a cold or warm cache;
# prints the wall time in microseconds.
timed_append() {
    local temperature=$1 base=$2 run=$3
    shift 3
    rm -f "$run"
    cp "$base" "$run"
    sync
    if [ "$temperature" = cold ]; then
        echo 3 >/proc/sys/vm/drop_caches
    else
        # Warm: the tree and the archive were just read.
        cat "$run" >/dev/null
        find "$tree" -type f -exec cat {} + >/dev/null
    fi
    time_us "$@"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for files in $sizes; do
    tree="$work/tree-$files"
    make_bench_tree "$tree" "$files"
    megabytes=$(du -sm --apparent-size "$tree" | cut -f1)
    ours_base="$work/ours-$files.wim"
    peer_base="$work/peer-$files.wim"
    "$ours" capture "$tree" "$ours_base" base >/dev/null
    wimlib-imagex capture "$tree" "$peer_base" base --compress=LZX --config="$empty" >/dev/null
    # 1 %: every hundredth file grows by a line (a new size and modification time).
    changed=0
    while IFS= read -r -d '' path; do
        echo "changed after the first capture" >>"$path"
        changed=$((changed + 1))
    done < <(find "$tree" -type f -name 'file *00.*' -print0)

    temperatures=warm
    [ "$cold" = 1 ] && temperatures="cold warm"
    for temperature in $temperatures; do
        declare -a t_ours=() t_full=() t_peer=() t_update=()
        for r in $(seq "$repeats"); do
            if [ $((r % 2)) -eq 1 ]; then
                t_ours+=("$(timed_append "$temperature" "$ours_base" "$work/run.wim" "$ours" capture "$tree" "$work/run.wim" new)")
                t_peer+=("$(timed_append "$temperature" "$peer_base" "$work/run.wim" \
                    wimlib-imagex append "$tree" "$work/run.wim" new --config="$empty")")
                t_full+=("$(timed_append "$temperature" "$ours_base" "$work/run.wim" \
                    "$ours" capture --full-read "$tree" "$work/run.wim" new)")
                t_update+=("$(timed_append "$temperature" "$peer_base" "$work/run.wim" \
                    wimlib-imagex append "$tree" "$work/run.wim" new --config="$empty" --update-of=1)")
            else
                t_update+=("$(timed_append "$temperature" "$peer_base" "$work/run.wim" \
                    wimlib-imagex append "$tree" "$work/run.wim" new --config="$empty" --update-of=1)")
                t_full+=("$(timed_append "$temperature" "$ours_base" "$work/run.wim" \
                    "$ours" capture --full-read "$tree" "$work/run.wim" new)")
                t_peer+=("$(timed_append "$temperature" "$peer_base" "$work/run.wim" \
                    wimlib-imagex append "$tree" "$work/run.wim" new --config="$empty")")
                t_ours+=("$(timed_append "$temperature" "$ours_base" "$work/run.wim" "$ours" capture "$tree" "$work/run.wim" new)")
            fi
        done
        m_ours=$(printf '%s\n' "${t_ours[@]}" | median)
        m_full=$(printf '%s\n' "${t_full[@]}" | median)
        m_peer=$(printf '%s\n' "${t_peer[@]}" | median)
        m_update=$(printf '%s\n' "${t_update[@]}" | median)
        goal=0.7
        [ "$temperature" = cold ] && goal=0.3
        printf '%6d files %4d MB, %d changed, %s: repeat capture %7.3f s, wimlib-imagex append %7.3f s, ratio %s (goal <= %s)\n' \
            "$files" "$megabytes" "$changed" "$temperature" "$(ratio "$m_ours" 1000000)" "$(ratio "$m_peer" 1000000)" \
            "$(ratio "$m_ours" "$m_peer")" "$goal"
        printf '%6d files %4d MB, %d changed, %s: --full-read     %7.3f s, wimlib-imagex append %7.3f s, ratio %s (goal <= 1.05)\n' \
            "$files" "$megabytes" "$changed" "$temperature" "$(ratio "$m_full" 1000000)" "$(ratio "$m_peer" 1000000)" \
            "$(ratio "$m_full" "$m_peer")"
        printf '%6d files %4d MB, %d changed, %s: (wimlib-imagex append --update-of %7.3f s, ratio %s, for information)\n' \
            "$files" "$megabytes" "$changed" "$temperature" "$(ratio "$m_update" 1000000)" "$(ratio "$m_update" "$m_peer")"
    done

    # The repeat capture made the image a full read makes (every file read
    # once before, so that no access time moves between the two).
    find "$tree" -type f -exec cat {} + >/dev/null
    cp "$ours_base" "$work/check.wim"
    "$ours" capture "$tree" "$work/check.wim" new >/dev/null
    "$ours" capture --full-read "$tree" "$work/check.wim" full >/dev/null
    if ! diff <(wimlib-imagex dir "$work/check.wim" 2 --detailed) <(wimlib-imagex dir "$work/check.wim" 3 --detailed) \
        >/dev/null; then
        echo "repeat: the repeat capture of $files files differs from a full read" >&2
        exit 1
    fi
    rm -rf "$tree" "$ours_base" "$peer_base" "$work/run.wim" "$work/check.wim"
done
echo "load: $(uptime)"
