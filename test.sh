#!/usr/bin/env bash
# Installs what is missing, builds and runs every test, the server tests against a PostgreSQL server of their own.
set -euo pipefail
cd "$(cd "$(dirname "$0")" && pwd)"
source scripts/packages.sh
ensure_packages
# Without the server the other tests still run; scripts/pg_test_server.sh says that the server tests were skipped.
ensure_test_packages || true
build_project
scripts/pg_test_server.sh scripts/cups_test_server.sh ctest --test-dir "$(build_dir)" --output-on-failure -j"$(nproc)"
