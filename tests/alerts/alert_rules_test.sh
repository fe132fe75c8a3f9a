#!/usr/bin/env bash
# The shipped alert rules and dashboard: promtool accepts the rules and their
# tests pass (faults fire, a healthy node is silent), every rule carries a
# severity, a summary, a description and a runbook section that exists, and
# every metric the rules and the dashboard query is one twctl exports.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
rules=$top/packaging/prometheus/tidewall.rules.yml
dashboard=$top/packaging/grafana/tidewall-node.json
doc=$top/docs/metrics.md
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v promtool >/dev/null || fail "promtool missing (scripts/install-deps.sh)"

promtool check rules "$rules" >/dev/null || fail "promtool check rules"
promtool test rules "$top/packaging/prometheus/tidewall.rules.test.yml" || fail "promtool test rules"

alerts=$(grep -c '^ *- alert: ' "$rules")
for field in 'severity: \(critical\|warning\|info\)$' 'summary: "' 'description: "' 'runbook_url: "'; do
  n=$(grep -c "^ *$field" "$rules" || true)
  [ "$n" -eq "$alerts" ] || fail "$alerts rules but $n with ${field%%:*}"
done
while read -r name; do
  grep -q "^ *runbook_url: \"file:///usr/share/doc/tidewall-tools/metrics.md#${name,,}\"$" "$rules" ||
    fail "$name: runbook_url does not name its own section"
  grep -qx "### $name" "$doc" || fail "$name: no runbook section in docs/metrics.md"
done < <(sed -n 's/^ *- alert: //p' "$rules")

python3 -m json.tool "$dashboard" >/dev/null || fail "dashboard is not JSON"
documented=$(grep -o '^| `tidewall_[a-z_]*`' "$doc" | tr -d '|` ' | sort -u)
for metric in $(grep -oh 'tidewall_[a-z_]*' "$rules" "$dashboard" | sort -u); do
  grep -qx "$metric" <<<"$documented" || fail "$metric is queried but not exported"
done
echo "alert rules: $alerts rules, tests pass, runbooks and metrics exist"
