#!/usr/bin/env bash
# The shared object exports the public interface and nothing of the internals:
# every defined dynamic symbol must belong to a public class or function (or to
# the standard library templates they instantiate).
set -euo pipefail
lib=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/libtidewall.so}
symbols=$(nm -D --defined-only "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }' | c++filt)
public='^(typeinfo (name )?for |vtable for |VTT for |guard variable for )?(tw_[a-z_]+|TsException|TsMntInfo|EvDebug|EvDebugFileInstance|free_space_info|twjson|get_ddb_backing_dev|vendor_strmap|retry_count_get|mntpoints_examine|get_drive_serialnum|get_drive_overallhealth|sascontrollers_examine|smart_param|gluster_vol_mount_info|gluster_brick_info|tsaf_blkdev[a-z_]*)\b'
runtime='^(typeinfo (name )?for |vtable for )?(std::|__gnu_cxx::|operator (new|delete)|_init$|_fini$|_edata$|_end$|__bss_start$|TIDEWALL_1$)'  # TIDEWALL_1: the version node's own symbol
leaks=$(grep -vE "$public" <<<"$symbols" | grep -vE "$runtime" || true)
count=$(grep -cE "$public" <<<"$symbols" || true)
if [ -n "$leaks" ]; then
  echo "libtidewall.so exports internals:" >&2
  echo "$leaks" | head -n 40 >&2
  exit 1
fi
for must in 'tw_storage::tw_storage()' 'tw_debug::logMessage' 'TsException::formatError'; do
  grep -qF "$must" <<<"$symbols" || { echo "public symbol missing: $must" >&2; exit 1; }
done
echo "exports: $count public symbols, no internals"
