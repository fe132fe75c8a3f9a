#!/usr/bin/env bash
# Metadata configure: two configures started together, 10 times (tests/integration/lib/metadata_crash.sh).
source "${TW_SOURCE_DIR:?}/tests/integration/lib/metadata_crash.sh" race
