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
    fuse3
    qt6-translations-l10n
    fonts-wqy-microhei fonts-noto-cjk locales
    desktop-file-utils appstream
    util-linux mount
    strace
    clang-format
    lintian dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ]; then
    echo "install: every package is present"
else
    echo "install: ${missing[*]}"
    $SUDO apt-get update
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The Chinese locale the program's users run, under which the window layouts
# are tested and the screenshots rendered.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
    echo "install: generating the zh_CN.UTF-8 locale"
    $SUDO sed -i 's/^# *\(zh_CN\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN\.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
