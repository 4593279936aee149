#!/usr/bin/env bash
# Runs every fuzz target for a set time, one after the other, on a scratch copy of its committed seed corpus.
#   fuzz/run.sh [SECONDS] [TARGET...]     (default 600 seconds each, every target)
# Builds the targets first with the fuzz preset (clang). A crash stops with the input saved under build-fuzz/.
set -euo pipefail
cd "$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(number date_text gbk memo report paradox)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for t in "${targets[@]}"; do
    work="build-fuzz/corpus-$t"
    mkdir -p "$work"
    cp -n fuzz/corpus/"$t"/* "$work"/ 2>/dev/null || true
    # A Paradox table's header alone is 2 KB and each block 2 KB or more.
    max_len=4096
    [ "$t" != paradox ] || max_len=16384
    echo "== fuzz_$t for $seconds s"
    (cd build-fuzz && ./fuzz/fuzz_"$t" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 "corpus-$t")
done
