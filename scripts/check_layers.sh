#!/usr/bin/env bash
# Fails when a file of src/ includes a header of a folder above its own:
#   resources < support < imaging < archive, capture_settings < operations < app
# (archive and capture_settings stand side by side and do not include each other).
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A level=([resources]=0 [support]=1 [imaging]=2 [archive]=3 [capture_settings]=3 [operations]=4 [app]=5)
wrong=0
while IFS=: read -r file line include; do
    own=${file#src/}
    own=${own%%/*}
    [[ $include =~ ^#include\ \"([a-z_]+)/ ]] || continue
    other=${BASH_REMATCH[1]}
    [ -n "${level[$own]:-}" ] && [ -n "${level[$other]:-}" ] || continue
    if [ "$other" != "$own" ] && [ "${level[$other]}" -ge "${level[$own]}" ]; then
        echo "$file:$line: $own includes $other, a folder not below it: $include"
        wrong=1
    fi
done < <(git grep -n -E '^#include "[a-z_]+/' -- 'src/*.cpp' 'src/*.h')
[ "$wrong" = 0 ] || exit 1
echo "layers: every include of src/ goes down or stays in its folder"
