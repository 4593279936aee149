#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package build/vanterlo_<version>_<arch>.deb.
# Install it with: sudo apt-get install ./build/vanterlo_*.deb
set -euo pipefail
cd "$(cd "$(dirname "$0")" && pwd)"
source scripts/packages.sh
ensure_packages
build_project
(cd build && cpack -G DEB)
