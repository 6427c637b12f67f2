#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellwick.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
scripts/build.sh >/dev/null
exec build/src/app/pellwick "$@"
