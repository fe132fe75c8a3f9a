#!/usr/bin/env bash
# twctl metadata: the default layout document of this node from its registry,
# and the check of a document that a person edited.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
mkdir -p "$reg"
printf 'sArrowfieldNodeType Data\n' > "$reg/registry.conf"

# Without a platform type there is no layout, and the reason is given.
if "$TWCTL" metadata layout --node-type Control --disk /dev/sdb >"$work/out" 2>"$work/err"; then
  fail "layout without a platform type succeeded"
fi
grep -q 'reading reg key failed for \[sScaleoutPlatformType\]' "$work/err" || fail "no reason: $(cat "$work/err")"

printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType ReferenceArchitecture\n' > "$reg/registry.conf"
"$TWCTL" metadata layout --node-type Control --disk /dev/sdb /dev/sdc > "$work/control.json" || fail "control layout"
python3 - "$work/control.json" <<'PY' || fail "control layout is not the expected JSON: $(cat "$work/control.json")"
import json, sys
d = json.load(open(sys.argv[1]))
assert d["node"] == {"platform": "ReferenceArchitecture", "type": "Control"}, d["node"]
assert [x["name"] for x in d["disk"]] == ["/dev/sdb", "/dev/sdc"]
lvs = [(l["name"], l["minPercentage"], l["maxSize"], l["thinVolume"]) for l in d["volumeGroup"]["logicalVolume"]]
assert lvs == [("index", 45, 4096, False), ("ddb", 50, 4096, True)], lvs
assert [m["mntPath"] for m in d["fileSystemMount"]] == ["/tw/ddb", "/opt/tessaline/Dockwright64/IndexCache"]
PY
[ "$(tail -c 3 "$work/control.json" | od -An -c)" = "   }      \\n" ] || fail "document does not end in '} \\n'"

# The node type comes from the registry when not given.
"$TWCTL" metadata layout --disk /dev/vdb > "$work/data.json" || fail "data layout"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["node"]["type"]=="Data" and len(d["volumeGroup"]["logicalVolume"])==1, d' \
  "$work/data.json" || fail "registry node type not used"

out=$("$TWCTL" metadata check "$work/control.json") || fail "check refused a written layout: $out"
grep -q 'valid metadata storage document' <<<"$out" || fail "no verdict: $out"
grep -q 'ddb .*thin' <<<"$out" || fail "summary lacks the thin ddb volume: $out"

sed 's/"thinVolume": true/"thinVolume": "yes"/' "$work/control.json" > "$work/bad.json"
if out=$("$TWCTL" metadata check "$work/bad.json" 2>/dev/null); then fail "check accepted a string thinVolume"; fi
grep -q 'a logical volume has no true/false "thinVolume"' <<<"$out" || fail "problem not in words: $out"
grep -q 'lv config thin volume  missing' <<<"$out" || fail "reader message missing: $out"

# A disk that is no object: reported, the process carries on.
printf '{"disk": ["/dev/sdb"], "volumeGroup": {}}' > "$work/nonobject.json"
if out=$("$TWCTL" metadata check --json "$work/nonobject.json" 2>"$work/err"); then fail "non-object disk accepted"; fi
python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert d["valid"] is False and d["messages"][0]=="disk config name missing", d' "$out" \
  || fail "json verdict: $out"
grep -q '^\[TWJSON\] expression' "$work/err" || fail "lookup failure not reported on stderr"

printf '{\n  "disk": [\n    {"name": "/dev/sdb"}\n    {"name": "/dev/sdc"}\n  ]\n}\n' > "$work/syntax.json"
if out=$("$TWCTL" metadata check "$work/syntax.json"); then fail "syntax error accepted"; fi
grep -q "syntax.json:4:5: not JSON the reader accepts: expected ',' or ']'" <<<"$out" || fail "no place given: $out"

rc=0; "$TWCTL" metadata layout --node-type control --disk /dev/sdb >/dev/null 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "bad node type gave $rc"
rc=0; "$TWCTL" metadata layout --node-type Data >/dev/null 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "no disk gave $rc"
# A Data node off the reference architecture has no buildable default layout:
# refused at once, naming node type and platform, with no document written.
printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType Appliance\n' > "$reg/registry.conf"
rc=0; "$TWCTL" metadata layout --disk /dev/sdb >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] || fail "unbuildable Data layout gave $rc"
[ ! -s "$work/out" ] || fail "unbuildable layout printed a document: $(cat "$work/out")"
grep -q 'no default metadata layout for node type \[Data\] on platform \[Appliance\]' "$work/err" || fail "no reason: $(cat "$work/err")"
printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType ReferenceArchitecture\n' > "$reg/registry.conf"

rc=0; "$TWCTL" metadata check /nonexistent >/dev/null 2>&1 || rc=$?
[ "$rc" = 1 ] || fail "unreadable file gave $rc"
echo "twctl metadata checks passed"
