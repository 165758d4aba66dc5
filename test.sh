#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$TERNBELL_BUILD"
# A thread-sanitizer build ends a test at its first report; the suppressions
# name only libraries that are not ours and not instrumented.
if grep -qi '^TERNBELL_SANITIZE:[A-Z]*=thread$' CMakeCache.txt; then
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$TERNBELL_ROOT/tests/tsan.supp}
fi
"$TERNBELL_ROOT/scripts/offline.sh" ctest --output-on-failure -j "${TERNBELL_TEST_JOBS:-2}" "$@"
