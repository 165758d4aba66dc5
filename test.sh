#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$TERNBELL_BUILD"
"$TERNBELL_ROOT/scripts/offline.sh" ctest --output-on-failure -j "${TERNBELL_TEST_JOBS:-2}" "$@"
