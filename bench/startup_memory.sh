#!/usr/bin/env bash
# Start-up and memory of ternbell beside the least Qt 6 tray program, under a
# private X server with a tray: the time from start until the tray icon is
# docked, and the resident memory after it has rested (3 s). The programs run
# in turn, the order rotating each round; medians and the ratios are printed.
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
    env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" "$@" \
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
        echo "$k $(measure "${programs[$k]}")" >>"$work/results"
    done
done

python3 - "$work/results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
by = {0: [], 1: []}
for k, ms, rss in rows:
    by[int(k)].append((int(ms), int(rss)))
names = {0: "minimal Qt tray program", 1: "ternbell"}
med = {k: (statistics.median(m for m, _ in v), statistics.median(r for _, r in v)) for k, v in by.items()}
for k in (0, 1):
    print(f"{names[k]:26s} start to docked {med[k][0]:7.0f} ms   resident {med[k][1] / 1024:6.1f} MB")
print(f"ternbell / reference: start {med[1][0] / med[0][0]:.2f} x, memory {med[1][1] / med[0][1]:.2f} x")
PY
