#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: installs only what is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libwim-dev wimtools
    libhivex-dev
    ntfs-3g
    qt6-translations-l10n
    fonts-wqy-microhei
    desktop-file-utils appstream
    util-linux mount
    strace
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install: every package is present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
echo "install: ${missing[*]}"
$SUDO apt-get update
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
