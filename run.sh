#!/usr/bin/env bash
# Installs what is missing, builds, creates the data folder on first use and starts Vanterlo.
# The start goes through the same launcher as the installed `vanterlo` command and the menu entry.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"
source scripts/packages.sh
ensure_packages
build_project
exec "$top/$(build_dir)/vanterlo-launcher" "$@"
