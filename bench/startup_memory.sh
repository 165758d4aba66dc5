#!/usr/bin/env bash
# Start-up and memory of ternbell beside the least Qt 6 tray program, under a
# private X server with a tray: the time from start until the tray icon is
# docked, the resident memory after it has rested (3 s) and the shared
# objects it maps then. ternbell runs twice: without a session bus and with
# no account, and on a private bus whose keyring holds the password of one
# account, which the first check (a second after the start) reads, so the
# keyring's client is loaded. The programs run in turn, the order rotating
# each round; the medians of each and the medians of the per-round ratios are
# printed (a round's ratio is taken under the same load on the machine).
#   bench/startup_memory.sh [rounds]      (after a build; default 9 rounds)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNBELL_BUILD:-$root/build}
rounds=${1:-9}
source "$root/tests/support/xsession.sh"
need_tools Xvfb trayer xdotool xwininfo xdpyinfo python3 dbus-daemon gnome-keyring-daemon secret-tool

work=$(mktemp -d /tmp/ternbell-startup-XXXXXX)
bus_pid="" keyring_pid=""
trap 'stop "$keyring_pid"; stop "$bus_pid"; stop_xsession; rm -rf "$work"' EXIT
start_xsession "$work"
tray=$(xdotool search --onlyvisible --class trayer | head -n1)

# A hive with no account: the program rests in the tray, the settings window
# created but not shown.
mkdir -p "$work/config/ternbell"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000000\n' \
    >"$work/config/ternbell/user.reg"

# A private session bus (nothing on it starts by itself) with an unlocked
# keyring of its own holding ann's password; her server's port on 127.0.0.1
# is closed, so her check fails at once.
keyring=$work/keyring
mkdir -p -m 700 "$keyring" "$keyring/run"
bus="unix:path=$keyring/bus"
printf '<busconfig><type>session</type><listen>%s</listen><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n' \
    "$bus" >"$keyring/bus.conf"
dbus-daemon --nofork --config-file="$keyring/bus.conf" 2>/dev/null &
bus_pid=$!
wait_for 10 test -S "$keyring/bus" || fail "the private bus did not start"
printf 'bench' | env DBUS_SESSION_BUS_ADDRESS="$bus" HOME="$keyring" XDG_DATA_HOME="$keyring/data" \
    XDG_RUNTIME_DIR="$keyring/run" gnome-keyring-daemon --foreground --components=secrets --unlock \
    --control-directory="$keyring/run/keyring" >/dev/null 2>&1 &
keyring_pid=$!
stored() {
    printf 'pw' | DBUS_SESSION_BUS_ADDRESS="$bus" secret-tool store --label='ternbell: ann on 127.0.0.1' \
        xdg:schema org.ternbell.Password protocol pop3 host 127.0.0.1 port 9 user ann 2>/dev/null
}
wait_for 10 stored || fail "the keyring does not keep a password"
mkdir -p "$work/keyed/ternbell"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000001\n"PlaySound"=""\n"ShowForm"=dword:00000000\n\n[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]\n"UserName"="ann"\n"UserPassword"=""\n"HostAddress"="127.0.0.1"\n"HostPort"="9"\n' \
    >"$work/keyed/ternbell/user.reg"
printf '#!/bin/sh\nexec env DBUS_SESSION_BUS_ADDRESS="%s" XDG_CONFIG_HOME="%s" "%s"\n' \
    "$bus" "$work/keyed" "$build/bin/ternbell" >"$work/ternbell-keyring"
chmod 755 "$work/ternbell-keyring"

docked() { [ "$(xwininfo -children -id "$tray" | grep -c '^ *0x')" -gt "$1" ]; }

# Prints "<ms to dock> <resident KiB> <shared objects>" for one start of the
# program.
measure() {
    local before start pid ms rss libs
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
    libs=$(grep -o '/[^ ]*\.so[^ ]*$' "/proc/$pid/maps" | sort -u | wc -l)
    stop "$pid"
    echo "$ms $rss $libs"
}

programs=("$build/bench/tray_reference" "$build/bin/ternbell" "$work/ternbell-keyring")
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
names = {0: "minimal Qt tray program", 1: "ternbell", 2: "ternbell, keyring read"}
by = {k: [] for k in names}
rounds = {}
for r, k, ms, rss, libs in rows:
    by[k].append((ms, rss, libs))
    rounds.setdefault(r, {})[k] = (ms, rss)
for k in names:
    ms = statistics.median(v[0] for v in by[k])
    rss = statistics.median(v[1] for v in by[k])
    libs = statistics.median(v[2] for v in by[k])
    print(f"{names[k]:26s} start to docked {ms:7.0f} ms   resident {rss / 1024:6.1f} MB   {libs:3.0f} shared objects")
for k in (1, 2):
    pairs = [v for v in rounds.values() if 0 in v and k in v]
    start = statistics.median(v[k][0] / v[0][0] for v in pairs)
    memory = statistics.median(v[k][1] / v[0][1] for v in pairs)
    print(f"{names[k]} / reference (median of {len(pairs)} rounds): start {start:.2f} x, memory {memory:.2f} x")
PY
