#!/usr/bin/env bash
# The count where people look: ternbell on an X display with Plank as the
# dock and a private session bus. The launcher signal is recorded by
# dbus-monitor, Plank draws the count on ternbell's launcher (kept as a
# screenshot), and `ternbell --status` reads the running instance through the
# one-instance channel: once, formatted, and following a change.
#   launcher_badge.sh <ternbell executable> <dovecot helper> <artefact folder>
set -u

exe=$1
helper=$2
artefacts=$3
mkdir -p "$artefacts"
shot="$artefacts/launcher_badge.png"
rm -f "$shot"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb plank dbus-daemon dbus-monitor import

open_workspace
failure_shot="$artefacts/launcher_badge_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "monitor=$work/monitor" "plank=$work/plank.log")

start_dovecot "$helper" "$work"
require_dovecot
for subject in one two three; do
    printf 'From: Ann <ann@example.org>\r\nSubject: %s\r\n\r\nhi\r\n' "$subject" >"$work/$subject.eml"
    deliver_file - "$work/$subject.eml"
done

# A session bus of the test's own, and what goes over it to the docks.
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
bus_pid=$!
wait_for 10 test -s "$work/bus" || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
dbus-monitor "type='signal',interface='com.canonical.Unity.LauncherEntry'" >"$work/monitor" 2>&1 &
monitor_pid=$!
cleanup_bus() { stop "$monitor_pid"; stop "${plank_pid:-}"; stop "$bus_pid"; close_workspace; }
trap cleanup_bus EXIT

start_xserver "$work"

# Plank with one launcher, ternbell's, whose desktop file it finds where the
# session's data lives.
mkdir -p "$work/share/applications" "$work/home/.config/plank/dock1/launchers" "$work/run"
chmod 700 "$work/run"
cat >"$work/share/applications/ternbell.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=ternbell
Exec=$exe
Icon=mail-unread
EOF
printf '[PlankDockItemPreferences]\nLauncher=file://%s\n' "$work/share/applications/ternbell.desktop" \
    >"$work/home/.config/plank/dock1/launchers/ternbell.dockitem"
HOME="$work/home" XDG_DATA_DIRS="$work/share:/usr/share" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_RUNTIME_DIR="$work/run" plank >"$work/plank.log" 2>&1 &
plank_pid=$!

make_recorder
config="$work/config"
write_check_hive "$config" 0 "" "$dove_args"
status() {
    env XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM="${ternbell_platform:-xcb}" "$exe" --status "$@"
}
status >/dev/null 2>"$work/none" && fail "a status without ternbell running"
[ "$(cat "$work/none")" = "ternbell is not running" ] || fail "without ternbell: $(cat "$work/none")"

start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE= XDG_RUNTIME_DIR="$work/run" \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
counted() { [ "$(status --format '{count} {class}' 2>/dev/null)" = "$1" ]; }
wait_for 20 counted "3 new" || fail "the status says: $(status 2>&1)"
status >"$work/line" || fail "--status failed"
grep -q '^{"text": "3", "alt": "new", "class": "new", "tooltip": "There are 3 messages to read (last check: ' \
    "$work/line" || fail "status line: $(cat "$work/line")"
grep -q '"accounts": \[{"name": "Home", "count": 3, "error": ""}\], "quiet": false, "checked": "' "$work/line" ||
    fail "status line: $(cat "$work/line")"
signalled() { grep -A12 'member=Update' "$work/monitor" | grep -q 'int64 3'; }
wait_for 10 signalled || fail "no launcher signal with the count"
grep -q 'string "application://ternbell.desktop"' "$work/monitor" || fail "the signal is not for ternbell.desktop"
[ "$(grep -c 'member=Update' "$work/monitor")" = 1 ] || fail "more than one signal for one count"

# A follower is told of the fourth message at the next check.
status --follow --format '{count}' >"$work/follow" 2>&1 &
follower=$!
wait_for 5 test -s "$work/follow" || fail "the follower got no first line"
printf 'From: Bob <bob@example.org>\r\nSubject: four\r\n\r\nhi\r\n' >"$work/four.eml"
deliver_file - "$work/four.eml"
wait_for 15 grep -qx 4 "$work/follow" || fail "the follower was not told: $(cat "$work/follow")"
wait_for 10 eval '[ "$(grep -c "member=Update" "$work/monitor")" = 2 ]' || fail "no signal for the fourth"

# Plank draws the count on the launcher: kept for a look.
sleep 2
import -window root "$shot"

# At the end the launcher is cleared and the follower ends.
stop "$app_pid"
app_pid=""
wait_for 5 eval '! kill -0 $follower 2>/dev/null' || fail "the follower did not end with ternbell"
wait_for 5 eval 'tail -n 12 "$work/monitor" | grep -q "boolean false"' || fail "the launcher was not cleared"
echo "PASS"
