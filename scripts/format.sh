#!/usr/bin/env bash
# Formats the C++ sources in place with .clang-format; --check only lists the
# files that are not formatted and fails when there are any.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s "$f" -; then echo "not formatted: $f"; bad=1; fi
  done
  exit $bad
fi
clang-format --style=file -i "${files[@]}"
