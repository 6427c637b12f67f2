#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen.
#   scripts/test.sh             the normal build
#   scripts/test.sh --sanitize  an AddressSanitizer + UndefinedBehaviorSanitizer build
# Further arguments go to ctest (for example -R archive).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh

build_args=()
dir=build
if [ "${1:-}" = "--sanitize" ]; then
    build_args=(--sanitize)
    dir=build-sanitize
    shift
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
scripts/build.sh "${build_args[@]}" >/dev/null

export QT_QPA_PLATFORM=offscreen
cd "$dir"
ctest --output-on-failure -j 2 "$@"
