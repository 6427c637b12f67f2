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

# The Chinese locales the program's users run: UTF-8, under which the window
# layouts are tested and the screenshots rendered, and GB18030, in which the
# output of the tools the program runs is decoded in a test.
wanted=()
locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' || wanted+=("zh_CN.UTF-8 UTF-8")
locale -a 2>/dev/null | grep -qix 'zh_CN\.gb18030' || wanted+=("zh_CN.GB18030 GB18030")
if [ ${#wanted[@]} -gt 0 ]; then
    for line in "${wanted[@]}"; do
        echo "install: generating the ${line%% *} locale"
        $SUDO sed -i "s/^# *\(${line//./\\.}\)\$/\1/" /etc/locale.gen
        grep -qx "$line" /etc/locale.gen || echo "$line" | $SUDO tee -a /etc/locale.gen >/dev/null
    done
    $SUDO locale-gen >/dev/null
fi
