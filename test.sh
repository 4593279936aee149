#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(cd "$(dirname "$0")" && pwd)"
source scripts/packages.sh
ensure_packages
build_project
ctest --test-dir build --output-on-failure -j"$(nproc)"
