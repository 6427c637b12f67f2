#!/usr/bin/env bash
# Renders the windows offscreen into docs/screenshots/ (the README shows them),
# under the Chinese locale and with the CJK font a Chinese desktop has
# (scripts/install.sh generates the locale and installs the fonts).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh >/dev/null
dir=$(scripts/build.sh)
out="$PWD/docs/screenshots"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen PELLWICK_SCREENSHOT_DIR="$out"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 LANGUAGE=zh_CN
for t in archive/tst_archive_window capture_settings/tst_image_info_dialog capture_settings/tst_exclusion_dialog \
    operations/tst_browse_extract app/tst_desktop_open operations/tst_failure_causes operations/tst_mount_window; do
    "$dir/tests/$t" >/dev/null
done
ls "$out"
