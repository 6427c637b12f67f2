#!/usr/bin/env bash
# Builds a Debian package of the program into build-package/ and prints its path.
#   scripts/package.sh
# Install it with: sudo apt install ./build-package/pellwick_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh >&2

dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLWICK_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >&2
cmake --build "$dir" -j "$(nproc)" >&2
rm -f "$dir"/pellwick_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/pellwick_*.deb
