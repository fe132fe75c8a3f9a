#!/usr/bin/env bash
# Two twctl tune runs started together, 10 times, and a version applied but
# not recorded (parts 2 and 3 of tuning_crash_test.sh; no crash sweep here).
set -euo pipefail
: "${TW_SOURCE_DIR:?}"
TW_SWEEP_FIRST=1000000 TW_TUNING_RACES=1 exec bash "$TW_SOURCE_DIR/tests/integration/tuning_crash_test.sh"
