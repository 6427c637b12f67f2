# Sourced by the benchmarks: their shared build, the one generated tree the
# benchmarks of imaging calls time, and the timing helpers. A benchmark starts
#   cd "$(dirname "$0")/.."
#   source bench/bench_common.sh
# and so takes its first argument as the build folder.
set -euo pipefail
build=${1:-build-bench}
ours="$build/src/imaging/pellwick-wim"  # once bench_build has built it

#   bench_work [PARENT]
# Sets $work, a fresh folder (in PARENT, else the temporary folder) removed
# when the benchmark exits; Qt's runtime folder too when none is set.
bench_work() {
    work=$(mktemp -d "${1:-${TMPDIR:-/tmp}}/pellwick-bench.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}"
}

# bench_build BUILD_DIR TARGET...: the Release build every benchmark shares
# (bench programs included, tests left out), with TARGETs built.
bench_build() {
    local build=$1
    shift
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLWICK_BENCH=ON -DPELLWICK_TESTS=OFF >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
}

#   make_bench_tree DIR FILES
# Nested folders (d0..d99/e0..e4) of FILES distinct text-like files, with every
# tenth file random bytes (about 60 MB for 20,000 files). Written by the
# shell's own printf: no process per text file.
make_bench_tree() {
    local tree=$1 files=$2 block="" random i d e path
    for i in $(seq 200); do
        block+="line $i: imaging archives keep folders, files, links and their times in one file"$'\n'
    done
    mkdir -p "$tree"
    random=$(mktemp "$tree/../random.XXXXXX")
    head -c $((24 * 1024 * 1024)) /dev/urandom >"$random"
    for d in $(seq 0 99); do
        for e in $(seq 0 4); do
            mkdir -p "$tree/d$d/e$e"
        done
    done
    for i in $(seq "$files"); do
        path="$tree/d$((i % 100))/e$((i % 5))/file $i"
        if [ $((i % 10)) -eq 0 ]; then
            dd if="$random" of="$path.bin" iflag=skip_bytes,count_bytes status=none \
                skip=$(((i * 7919) % (16 * 1024 * 1024))) count=$((4096 + (i % 32) * 1024))
        else
            printf 'file %d\n%s' "$i" "${block:$(((i * 31) % 9000)):$((300 + (i % 50) * 60))}" >"$path.txt"
        fi
    done
    rm "$random"
}

#   cached DIR MAKER ARGS...
# Runs "MAKER DIR ARGS..." unless DIR was made completely before.
cached() {
    local dir=$1
    shift
    [ -e "$dir/.complete" ] && return 0
    rm -rf "$dir"
    mkdir -p "$dir"
    "$1" "$dir" "${@:2}"
    : >"$dir/.complete"
}

#   bench_data WORK
# Sets $data, where a benchmark keeps what it generates: $CACHE when set, so
# that later runs reuse it (200,000 files take minutes to write and to
# capture), else WORK, removed at exit.
bench_data() {
    data=${CACHE:-$1}
    mkdir -p "$data"
}

#   bench_tree FILES
# Sets $tree to the benchmarks' common tree of FILES files under $data.
bench_tree() {
    make_tree_in() { make_bench_tree "$1/tree" "$2"; }
    cached "$data/tree-$1" make_tree_in "$1"
    tree="$data/tree-$1/tree"
}

# Runs "$@" once and prints its wall time in microseconds. The previous run's
# written data is flushed first, so that no run pays for another's writeback.
time_us() {
    local start end
    sync
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

# The median of the numbers on standard input, one per line, of $repeats runs.
median() {
    sort -n | sed -n "$(((repeats + 1) / 2))p"
}
