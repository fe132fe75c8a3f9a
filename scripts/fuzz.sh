#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for a
# bounded time (FUZZ_SECONDS, default 20) from the seeds in tests/fuzz/corpus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTW_BUILD_FUZZ=ON -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF -DTW_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
status=0
for target in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds="$top/tests/fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] || seeds=""
  echo "== $name: ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       "$corpus" $seeds > "$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log"
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$build/$name.log" | tail -n 1 || true
  fi
done
exit $status
