#!/usr/bin/env bash
# twctl's command-line contract, driven by its own command table (twctl
# --commands): every command answers --help on stdout, a usage error goes to
# stderr with exit 2, the man page and the completion know every command and
# option, messages say plainly what is wrong, and JSON on failure is an object
# that its schema accepts.
set -euo pipefail
: "${TWCTL:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
PY=/usr/bin/python3  # Debian's, with python3-jsonschema
schemas=$TW_SOURCE_DIR/docs/schemas
man=$TW_SOURCE_DIR/docs/twctl.1
work=$(mktemp -d)
mounted_sa=""
cleanup() { [ -z "$mounted_sa" ] || umount /var/log/sa; rm -rf "$work"; }
trap cleanup EXIT

# run WORDS...: sets rc, out, err.
run() { set +e; "$TWCTL" "$@" >"$work/out" 2>"$work/err"; rc=$?; set -e; out=$(<"$work/out"); err=$(<"$work/err"); }
# valid SCHEMA: stdout is one document its schema accepts.
valid() {
  "$PY" - "$schemas/$1.schema.json" "$work/out" <<'PY' || fail "$1: $(cat "$work/out")"
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator(schema).validate(json.load(open(sys.argv[2])))
PY
}

table=$("$TWCTL" --commands)
[ "$(wc -l <<<"$table")" -ge 26 ] || fail "command table too short: $table"

# Every command: --help on stdout, exit 0; a stray option: stderr, exit 2.
groups=()
while IFS=$'\t' read -r path opts; do
  read -ra words <<<"${path#twctl }"
  run "${words[@]}" --help
  [ "$rc" = 0 ] && [ -z "$err" ] && grep -q '^Usage: ' <<<"$out" || fail "${words[*]} --help: rc=$rc err=$err"
  # The man page has an entry for it that names each option (roff escapes each dash).
  entry=$(sed 's/\\-/-/g' "$man" | grep -E "^\.B ${path#twctl }( |\$)" || true)
  [ -n "$entry" ] || fail "twctl.1 has no entry for ${words[*]}"
  for o in $opts; do
    [[ $o == --* ]] || continue
    grep -qe "$o" <<<"$out" || fail "${words[*]} --help does not show $o"
    grep -qe "$o" <<<"$entry" || fail "twctl.1's entry for ${words[*]} does not name $o"
  done
  run "${words[@]}" --no-such-option
  [ "$rc" = 2 ] && [ -z "$out" ] && [ -n "$err" ] || fail "${words[*]} --no-such-option: rc=$rc out=$out"
  if [ "${#words[@]}" -gt 1 ]; then groups+=("${words[0]}"); fi
done <<<"$table"

# A group named alone: its usage on stderr, exit 2.
for g in $(printf '%s\n' "${groups[@]}" | sort -u); do
  run "$g"
  [ "$rc" = 2 ] && [ -z "$out" ] && grep -q 'Subcommands:' <<<"$err" || fail "twctl $g: rc=$rc out=$out err=$err"
done

version=$(sed -n 's/^project(tidewall VERSION \([0-9.]*\).*/\1/p' "$TW_SOURCE_DIR/CMakeLists.txt")
run --version
[ "$rc" = 0 ] && [ "$out" = "twctl $version" ] || fail "--version: rc=$rc '$out', want 'twctl $version'"
run
[ "$rc" = 2 ] && [ -z "$out" ] || fail "twctl alone: rc=$rc"

# The completion offers the table's words.
# shellcheck source=/dev/null
source "$TW_SOURCE_DIR/tools/twctl/twctl.bash-completion"
complete_words() { COMP_WORDS=("$TWCTL" "$@"); COMP_CWORD=$(($# )); COMPREPLY=(); _twctl; echo "${COMPREPLY[*]}"; }
while IFS='|' read -r words want; do
  read -ra w <<<"$words"
  got=$(complete_words "${w[@]}")
  grep -qw -e "$want" <<<"$got" || fail "completion of '$words': '$got' lacks $want"
done <<'EOF_TABLE'
dis|disks
disks pro|provision
disks provision --d|--dry-run
metadata configure x --m|--m5
platform cpu-usage --|--minutes
EOF_TABLE
[ "$(complete_words platform cpu)" = cpu-usage ] || fail "completion of 'platform cpu'"

# Messages that say what is wrong: command, exit status, what stderr says.
mkdir -p "$work/plain"
while IFS='|' read -r words want_rc want_err; do
  read -ra w <<<"$words"
  run "${w[@]}"
  [ "$rc" = "$want_rc" ] && grep -qF -e "$want_err" <<<"$err" || fail "twctl $words: rc=$rc err=$err"
done <<EOF_TABLE
iotest --blkdev /dev/sdzz|2|/dev/sdzz does not exist
iotest --blkdev sdzz|2|/dev/sdzz does not exist
stamps check /nonexistent|2|/nonexistent: the path does not exist
iotest|2|name a MOUNT_PATH or --blkdev DEV
iotest /nonexistent|2|/nonexistent: the path does not exist
nosuch|2|twctl: unknown command 'nosuch'
disks bogus|2|twctl disks: unknown command 'bogus'
tune --json|2|--json goes with --status
metadata configure x --m5 --old-vg vg|2|excludes
metadata configure /nonexistent|1|twctl metadata configure: cannot read '/nonexistent': No such file or directory
metadata check /nonexistent|1|twctl metadata check: cannot read '/nonexistent': No such file or directory
EOF_TABLE
# A library call that fails gives its reason ahead of the log's name.
run gluster bricks novol
[ "$rc" = 1 ] && grep -qE "^twctl gluster bricks: cannot read volume 'novol' from gluster: .+ \(see /.+/TSTidewall\.log\)$" \
  <<<"$err" || fail "gluster bricks of no volume: rc=$rc err=$err"
run stamps check --json "$work/plain"
[ "$rc" = 1 ] || fail "stamps check of a plain directory: rc=$rc"
valid stamps-check
grep -q '"problem": "not a mount point"' "$work/out" || grep -qP '"problem":\s*"not a mount point"' "$work/out" \
  || fail "stamps check of a plain directory: $out"

# No activity files at all: no CPU usage to tell, rather than 0.00 %.
mount -t tmpfs tmpfs /var/log/sa 2>/dev/null || { mkdir -p /var/log/sa && mount -t tmpfs tmpfs /var/log/sa; }
mounted_sa=1
run platform cpu-usage
[ "$rc" = 1 ] && grep -q 'no activity files' <<<"$err" || fail "cpu-usage without activity files: rc=$rc $out $err"

# The log is named where messages send people.
reg=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$reg/EventManager" "$work/logs"
printf 'dEVLOGDIR %s\n' "$work/logs" > "$reg/EventManager/registry.conf"
run --help
grep -qF "$work/logs/TSTidewall.log" <<<"$out" || fail "--help does not name the log: $out"
rm "$reg/EventManager/registry.conf"

# Without root: a plain refusal, exit 4, and for --json an object that says so.
nobody() { set +e; setpriv --reuid=nobody --regid=nogroup --clear-groups "$TWCTL" "$@" >"$work/out" 2>"$work/err"; rc=$?; set -e; err=$(<"$work/err"); }
for words in "metadata status" "stamps fix" "disks provision --dry-run" "prune"; do
  read -ra w <<<"$words"
  nobody "${w[@]}"
  [ "$rc" = 4 ] && grep -q 'needs root' <<<"$err" || fail "twctl $words as nobody: rc=$rc err=$err"
done
nobody metadata status --json
[ "$rc" = 4 ] && valid error && grep -q 'needs root' "$work/out" || fail "metadata status --json as nobody"

# JSON on failure: an object with the message and the exit status.
while IFS='|' read -r words want_rc; do
  read -ra w <<<"$words"
  run "${w[@]}"
  [ "$rc" = "$want_rc" ] || fail "twctl $words: rc=$rc"
  valid error
  "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["exit_status"]==int(sys.argv[2]) and d["error"], d' \
    "$work/out" "$want_rc" || fail "twctl $words: $(cat "$work/out")"
done <<'EOF_TABLE'
platform drives --json|1
stamps check --json /nonexistent|2
storage info --json --bogus|2
metadata check /nonexistent --json|1
EOF_TABLE

# Documents as their schemas describe them: a layout document of this node,
# and one that does not read.
mkdir -p "$reg/Dockwright"
printf 'sScaleoutPlatformType ReferenceArchitecture\n' > "$reg/Dockwright/registry.conf"
"$TWCTL" metadata layout --node-type Data --disk /dev/sdb > "$work/layout.json" || fail "metadata layout"
printf '{"disk": [' > "$work/broken.json"
while IFS='|' read -r words schema; do
  read -ra w <<<"$words"
  run "${w[@]}"
  valid "$schema"
done <<EOF_TABLE
storage info --json|storage-info
tune --status --json|tune-status
fstab show --json|fstab-show
disks new --json|disks-new
platform controllers --json|platform-controllers
platform report --json|platform-report
platform nics --json|platform-nics
monitor --json|monitor
metadata status --json|metadata-status
metadata check $work/layout.json --json|metadata-check
metadata check $work/broken.json --json|metadata-check
EOF_TABLE
echo "twctl contract checks passed"
