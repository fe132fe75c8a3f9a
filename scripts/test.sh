#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs every test: the unit tier, the
# integration tier (root: runs in a throw-away copy of the machine), the cluster
# tier (root: three nodes in namespaces) and a short
# fuzz run of each fuzz target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
cd "$top/build"
echo "== unit tier"
ctest -L unit --output-on-failure -j "$(nproc)"
echo "== integration tier"
ctest -L integration --output-on-failure
echo "== cluster tier"
ctest -L cluster --output-on-failure
echo "== exported symbols, staged install and consumer, packages (lintian, ABI, rpmlint)"
"$top/scripts/check-package.sh" --packages
echo "== fuzz smoke run"
"$top/scripts/fuzz.sh"
