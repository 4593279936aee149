#!/usr/bin/env bash
# Installs what is missing, builds the way Debian builds its packages (dpkg-buildflags, warnings not fatal), and makes
# the Debian package for the release it runs on: build-package/vanterlo_<version>~deb<release>_<arch>.deb.
# Install it with: sudo apt-get install ./build-package/vanterlo_*.deb
set -euo pipefail
cd "$(cd "$(dirname "$0")" && pwd)"
source scripts/packages.sh
ensure_packages
build_project package
(cd "$(build_dir)-package" && cpack -G DEB)
