#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the library and the tool (not the tests),
# using the compile commands of build/ (scripts/build.sh exports them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
[ -f "$build/compile_commands.json" ] || "$top/scripts/build.sh"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "$top/src/" "$top/tools/" "$@"
