#!/usr/bin/env bash
# Installs what is missing, builds, and starts ternbell in the tray.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
exec "$TERNBELL_BUILD/bin/ternbell" "$@"
