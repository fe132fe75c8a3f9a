#!/usr/bin/env bash
# Kill points 2, 5, 8, ... of tuning_crash_test.sh's crash sweep of
# twctl tune from version 0 to 7.
set -euo pipefail
: "${TW_SOURCE_DIR:?}"
TW_SWEEP_FIRST=2 exec bash "$TW_SOURCE_DIR/tests/integration/tuning_crash_test.sh"
