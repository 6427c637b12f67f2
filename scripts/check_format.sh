#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted as .clang-format says.
#   scripts/check_format.sh         check every tracked .cpp and .h
#   scripts/check_format.sh --fix   format them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"
