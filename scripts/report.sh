#!/usr/bin/env bash
# Sets up a fresh machine, builds, and reports this node with twctl.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
twctl="$top/build/tools/twctl/twctl"
echo "== storage =="
"$twctl" storage info
echo
echo "== platform =="
"$twctl" platform report
echo
echo "== disks =="
"$twctl" disks new
echo
echo "== /etc/fstab =="
"$twctl" fstab show
