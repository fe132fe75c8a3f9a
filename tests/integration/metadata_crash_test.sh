#!/usr/bin/env bash
# Metadata configure: the odd kill points (tests/integration/lib/metadata_crash.sh).
source "${TW_SOURCE_DIR:?}/tests/integration/lib/metadata_crash.sh" sweep 1 2
