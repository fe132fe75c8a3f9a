#!/usr/bin/env bash
# twctl reports this node even when its surroundings are broken: a garbled
# registry, a log directory that cannot be written, no gluster, no dmidecode.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

reg=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$reg/Dockwright" "$reg/EventManager"
head -c 4096 /dev/urandom > "$reg/Dockwright/registry.conf"
printf 'dEVLOGDIR /proc/not-writable\n' > "$reg/EventManager/registry.conf"

out=$("$TWCTL" storage info) || fail "storage info failed on a garbled registry"
grep -q '^ddb  *\/tw\/ddb ' <<<"$out" || fail "defaults not reported: $out"
json=$("$TWCTL" storage info --json) || fail "storage info --json failed"
python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert d["mount_paths"][0]["path"]=="/tw/ddb", d' "$json" \
  || fail "json output is not valid JSON: $json"
# Metrics from a garbled registry are still well-formed: a value that is not
# UTF-8 (Latin-1 here) reaches its label with U+FFFD in place of the bad byte.
printf '\nsScaleoutPlatformType caf\xe9 au lait\n' >> "$reg/Dockwright/registry.conf"
metrics=$("$TWCTL" metrics) || fail "metrics failed on a garbled registry"
if command -v promtool >/dev/null; then
  promtool check metrics <<<"$metrics" || fail "promtool rejects twctl metrics on a garbled registry"
fi
grep -qF $'platform_type="caf\xef\xbf\xbd au lait"' <<<"$metrics" || fail "platform type label: $(grep node_info <<<"$metrics")"

# Registry keys a person set by hand are what the report shows.
printf '# by hand\nsTidewallDDBMountPath /data/ddb\nsArrowfieldApplianceType RM-310\n' > "$reg/Dockwright/registry.conf"
out=$("$TWCTL" storage info) || fail "storage info failed"
grep -q '^ddb  *\/data\/ddb ' <<<"$out" || fail "registry value not used: $out"
grep -q '^Storage flavour: *1 (glusterfs)' <<<"$out" || fail "flavour not from the appliance type: $out"

"$TWCTL" no-such-command >/dev/null 2>&1 && fail "unknown command accepted"
"$TWCTL" storage info --bogus >/dev/null 2>&1 && fail "unknown flag accepted"
echo "twctl bad-input checks passed"
