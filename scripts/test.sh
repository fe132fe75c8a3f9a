#!/usr/bin/env bash
# Sets up a fresh machine, builds (warnings are errors), and runs every test:
# the format check, the unit tier (also under AddressSanitizer and
# UndefinedBehaviorSanitizer), the integration tier (root: runs in a throw-away
# copy of the machine), the cluster tier (root: three nodes in namespaces), the
# package checks and a short fuzz run of each fuzz target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
echo "== format"
"$top/scripts/format.sh" --check
"$top/scripts/build.sh" -DTW_WERROR=ON
cd "$top/build"
echo "== unit tier"
ctest -L unit --output-on-failure -j "$(nproc)"
echo "== unit tier under ASan and UBSan"
BUILD_DIR="$top/build-asan" BUILD_TYPE=Debug "$top/scripts/build.sh" -DTW_WERROR=ON -DTW_SANITIZE=ON -DTW_BUILD_BENCH=OFF
ctest --test-dir "$top/build-asan" -L unit --output-on-failure -j "$(nproc)"
echo "== integration tier"
ctest -L integration --output-on-failure
echo "== cluster tier"
ctest -L cluster --output-on-failure
echo "== exported symbols, staged install and consumer, packages (lintian, ABI, rpmlint)"
"$top/scripts/check-package.sh" --packages
echo "== fuzz smoke run"
"$top/scripts/fuzz.sh"
