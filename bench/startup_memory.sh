#!/usr/bin/env bash
# Start-up and memory of ternbell beside the least Qt 6 tray program, under a
# private X server with a tray: the time from start until the tray icon is
# docked, and the resident memory after it has rested (3 s). The programs run
# in turn, the order rotating each round; the medians of each and the medians
# of the per-round ratios are printed (a round's ratio is taken under the same
# load on the machine for both).
#   bench/startup_memory.sh [rounds]      (after a build; default 9 rounds)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNBELL_BUILD:-$root/build}
rounds=${1:-9}
source "$root/tests/support/xsession.sh"
need_tools Xvfb trayer xdotool xwininfo xdpyinfo python3

work=$(mktemp -d /tmp/ternbell-startup-XXXXXX)
trap 'stop_xsession; rm -rf "$work"' EXIT
start_xsession "$work"
tray=$(xdotool search --onlyvisible --class trayer | head -n1)

# A hive with no account: the program rests in the tray, the settings window
# created but not shown.
mkdir -p "$work/config/ternbell"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000000\n' \
    >"$work/config/ternbell/user.reg"

docked() { [ "$(xwininfo -children -id "$tray" | grep -c '^ *0x')" -gt "$1" ]; }

# Prints "<ms to dock> <resident KiB>" for one start of the program.
measure() {
    local before start pid ms rss
    before=$(xwininfo -children -id "$tray" | grep -c '^ *0x' || true)
    start=$(date +%s%N)
    env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" "$@" \
        >/dev/null 2>&1 &
    pid=$!
    local deadline=$((SECONDS + 20))
    until docked "$before"; do
        [ $SECONDS -lt $deadline ] || { stop "$pid"; fail "$1 did not dock in 20 s"; }
        sleep 0.005
    done
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    sleep 3
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    stop "$pid"
    echo "$ms $rss"
}

programs=("$build/bench/tray_reference" "$build/bin/ternbell")
: >"$work/results"
for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#programs[@]}; i++)); do
        k=$(( (i + r) % ${#programs[@]} ))
        echo "$r $k $(measure "${programs[$k]}")" >>"$work/results"
    done
done

python3 - "$work/results" <<'PY'
import statistics, sys
rows = [list(map(int, line.split())) for line in open(sys.argv[1])]
by = {0: [], 1: []}
rounds = {}
for r, k, ms, rss in rows:
    by[k].append((ms, rss))
    rounds.setdefault(r, {})[k] = (ms, rss)
names = {0: "minimal Qt tray program", 1: "ternbell"}
for k in (0, 1):
    ms = statistics.median(m for m, _ in by[k])
    rss = statistics.median(r for _, r in by[k])
    print(f"{names[k]:26s} start to docked {ms:7.0f} ms   resident {rss / 1024:6.1f} MB")
pairs = [v for v in rounds.values() if len(v) == 2]
start = statistics.median(v[1][0] / v[0][0] for v in pairs)
memory = statistics.median(v[1][1] / v[0][1] for v in pairs)
print(f"ternbell / reference (median of {len(pairs)} rounds): start {start:.2f} x, memory {memory:.2f} x")
PY
