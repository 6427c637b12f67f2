#!/usr/bin/env bash
# Builds a Debian package of the program into build-package/, checks it with
# lintian (no error, no warning) and prints its path.
#   scripts/package.sh
# Install it with: sudo apt install ./build-package/pellwick_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh >&2

# Debian's hardening flags, as a package built by dpkg-buildpackage has them.
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"

dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLWICK_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >&2
cmake --build "$dir" -j 2 >&2
rm -f "$dir"/pellwick_*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/pellwick_*.deb)
# Pedantic and informational notes are printed; an error or a warning fails.
lintian --pedantic --info --fail-on error,warning "$deb" >&2
echo "$deb"
