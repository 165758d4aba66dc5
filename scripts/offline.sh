#!/usr/bin/env bash
# Runs a command in a network namespace of its own that has only loopback, so
# nothing under test can look up a name or reach a host off this machine (the
# default account's "POP3 Server", say). Where no namespace can be made, the
# command runs as it is.
set -euo pipefail
if [ -z "${TERNBELL_OFFLINE:-}" ]; then
  export TERNBELL_OFFLINE=1
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --net); else ns=(unshare --map-root-user --net); fi
  if "${ns[@]}" true 2>/dev/null; then
    exec "${ns[@]}" -- bash -c 'ip link set lo up && exec "$@"' bash "$@"
  fi
  echo "offline.sh: no network namespace here; running without one" >&2
fi
exec "$@"
