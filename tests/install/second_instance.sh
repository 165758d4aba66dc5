#!/usr/bin/env bash
# One ternbell per user and display. Under one X server with a tray: a second
# start adds no tray icon, makes the running one show its settings window,
# says so in one line and exits 0. After kill -9 of the running one (its socket
# and lock stay behind) a new start comes up as the one instance.
#   second_instance.sh <ternbell executable> <artefact folder>
set -u

exe=$1
artefacts=$2
mkdir -p "$artefacts"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

open_workspace
failure_shot="$artefacts/second_instance_failure.png"

start_xsession "$work"
config="$work/config"
mkdir -p -m 700 "$work/run"
# A configuration that exists, so the first start does not open the settings
# window itself; no accounts, so no check goes anywhere.
write_hive "$config" <<'HIVE'
REGEDIT4

[HKEY_CURRENT_USER\Software\ternbell]
"AccountsNo"=dword:00000000
HIVE

run() {
    exec env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$config" XDG_STATE_HOME="$config/state" \
        XDG_DATA_HOME="$work/empty" XDG_DATA_DIRS="$work/empty" XDG_CONFIG_DIRS="$work/empty" \
        XDG_RUNTIME_DIR="$work/run" "$exe" "$@"
}

# Tray icons are the program's windows titled just "ternbell" (the title is
# only in _NET_WM_NAME, which xdotool's --name does not search), whichever
# process they belong to.
icons() {
    local w n=0
    for w in $(xdotool search --onlyvisible --classname '^ternbell$' 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = ternbell ] && n=$((n + 1))
    done
    echo $n
}
settings_shown() { xdotool search --onlyvisible --name '^ternbell settings$' >/dev/null 2>&1; }
one_icon() { [ "$(icons)" -eq 1 ]; }
loaded() { grep -q '"CheckingTime"' "$config/ternbell/user.reg"; }

start_first() {
    run >"$work/first.log" 2>&1 &
    app_pid=$!
    failure_logs=("first=$work/first.log")
    wait_for 10 one_icon || fail "the first start shows $(icons) tray icons"
    # The first tick has loaded the configuration.
    wait_for 10 loaded || fail "the configuration was not loaded"
}

second_start() {
    local log=$1
    run >"$log" 2>&1 &
    local pid=$!
    local gone
    gone() { ! kill -0 "$pid" 2>/dev/null; }
    wait_for 15 gone || { kill -9 "$pid"; fail "the second start did not end"; }
    wait "$pid"
    status=$?
}

start_first
settings_shown && fail "the settings window is open before anyone asked"

second_start "$work/second.log"
failure_logs+=("second=$work/second.log")
[ $status -eq 0 ] || fail "the second start ended with status $status"
[ "$(wc -l <"$work/second.log")" -eq 1 ] || fail "the second start did not print one line"
grep -q 'already running' "$work/second.log" || fail "the second start did not say why it ended"
wait_for 10 settings_shown || fail "the running instance did not show its settings window"
sleep 0.5
import -window root "$artefacts/second_instance.png"
[ "$(icons)" -eq 1 ] || fail "$(icons) tray icons after the second start"
kill -0 "$app_pid" 2>/dev/null || fail "the first instance ended"

# A killed instance leaves its socket behind; it must not block.
kill -9 "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=""
ls "$work/run" | grep -q 'ternbell-.*\.socket' || fail "expected the killed instance's socket to stay"
no_icon() { [ "$(icons)" -eq 0 ]; }
wait_for 5 no_icon || fail "the killed instance's tray icon stayed"
start_first
kill -0 "$app_pid" 2>/dev/null || fail "the start after kill -9 ended"

# ... and the new one is the instance later starts find.
second_start "$work/third.log"
[ $status -eq 0 ] || fail "a start after the restart ended with status $status"
grep -q 'already running' "$work/third.log" || fail "a start after the restart did not find the running one"
[ "$(icons)" -eq 1 ] || fail "$(icons) tray icons after the restart"
echo "PASS"
