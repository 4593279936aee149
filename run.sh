#!/usr/bin/env bash
# Installs what is missing, builds, creates the data folder on first use and starts Vanterlo.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"
source scripts/packages.sh
ensure_packages
build_project

data="${XDG_DATA_HOME:-$HOME/.local/share}/vanterlo"
if [ ! -e "$data/jhb.DB" ] && [ ! -e "$data/huizong.DB" ]; then
    mkdir -p "$data"
    build/vanterlo-db init "$data"
    [ -e "$data/bwl.sys" ] || : > "$data/bwl.sys"
    echo "Created the data folder $data"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "vanterlo: no display to show the window on (DISPLAY is not set); start it in a desktop session or under xvfb-run" >&2
    exit 1
fi

cd "$data"
BCDEMOS="$data" exec "$top/build/vanterlo"
