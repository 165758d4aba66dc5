#!/usr/bin/env bash
# ternbell follows dunst's do-not-disturb on a private bus, checking a
# private Dovecot under its own X server: while dunst is paused a new message
# is listed (the status counts it) but nothing blinks, no window shows and no
# command runs; a sender a rule marks important gets through; a mailing list
# a rule keeps quiet is never told; resumed, one summary comes, once.
#   e2e_quiet.sh <ternbell executable> <dovecot helper> <artefact folder>
set -u

exe=$1
helper=$2
artefacts=$3
mkdir -p "$artefacts"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool xset dunst dunstctl dbus-daemon dbus-monitor

open_workspace
bus_pid="" dunst_pid="" monitor_pid=""
close_quiet() {
    stop "$monitor_pid"
    stop "$dunst_pid"
    stop "$bus_pid"
    close_workspace
}
trap close_quiet EXIT
failure_shot="$artefacts/e2e_quiet_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "command=$work/out" "notify=$work/notify.log")

start_dovecot "$helper" "$work"
require_dovecot
port=$dove_args

# deliver <name> <from> <subject> [list-id]
deliver() {
    local file="$work/$1.eml"
    {
        printf 'From: %s\r\nTo: ann@example.org\r\nSubject: %s\r\n' "$2" "$3"
        [ -z "${4:-}" ] || printf 'List-Id: %s\r\n' "$4"
        printf '\r\nbody of %s\r\n' "$1"
    } >"$file"
    deliver_file - "$file"
}

start_xsession "$work"

# A session bus of our own, dunst on it, and a record of every Notify.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile) ||
    fail "no private bus"
bus_address=$(echo "$bus" | sed -n 1p)
bus_pid=$(echo "$bus" | sed -n 2p)
export DBUS_SESSION_BUS_ADDRESS=$bus_address
dbus-monitor --address "$bus_address" "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$work/notify.log" 2>&1 &
monitor_pid=$!
printf '[global]\n' >"$work/dunstrc"
dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
dunst_pid=$!
wait_for 10 dunstctl is-paused >/dev/null || fail "dunst did not come onto the bus"
dunstctl set-paused true

led() { xset q | sed -n 's/.*Scroll Lock: *\([a-z]*\).*/\1/p'; }
xset led named 'Scroll Lock' 2>/dev/null || xset led 3
[ "$(led)" = on ] || fail "cannot switch the Scroll Lock LED on"

make_recorder
config="$work/config"
write_hive "$config" <<HIVE
REGEDIT4

$(hive_check_settings 1 1 "$(cd "$(dirname "$exe")" && pwd)/newmsg.ico")

[HKEY_CURRENT_USER\\Software\\ternbell\\Rules]
"1"="important from *boss@example.org*"
"2"="quiet list *announce*"

$(hive_account 1 Home ann "$port" 0)
HIVE

deliver one 'Ann <ann@example.org>' 'While paused'
deliver list 'Dev <dev@example.org>' 'Release 1.0' 'Announcements <announce.example.org>'
start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE= DBUS_SESSION_BUS_ADDRESS="$bus_address"

lines() { [ -f "$work/out" ] && wc -l <"$work/out" || echo 0; }
status() { env XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" "$exe" --status 2>/dev/null; }
counted() { status | grep -q "\"count\": $1,.*\"quiet\": true"; }

# Listed and counted, quiet: the LED stays on all the while, no window, no command.
seen_off=no
deadline=$((SECONDS + 20))
until counted 2; do
    [ $SECONDS -lt $deadline ] || fail "the two messages were not listed while quiet: $(status)"
    [ "$(led)" = off ] && seen_off=yes
    kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
    sleep 0.1
done
sleep 2
[ "$(led)" = off ] && seen_off=yes
[ $seen_off = no ] || fail "the LED blinked while quiet"
[ "$(lines)" -eq 0 ] || fail "the command ran while quiet: $(cat "$work/out")"
window_named 'You have got a mail!' >/dev/null && fail "the window showed while quiet"

# The boss gets through, while paused: the command runs for that message only.
deliver boss 'The Boss <boss@example.org>' 'Now'
wait_for 20 sh -c "[ -f '$work/out' ] && grep -q 'Now' '$work/out'" || fail "the important message was not told"
[ "$(lines)" -eq 1 ] || fail "more than the important message was told: $(cat "$work/out")"
grep -q 'byte 2' "$work/notify.log" || fail "the important message was not sent as critical"

# Resumed: one summary, of Ann's message alone (the list is never told),
# with the LED.
wait_for 10 sh -c "xset q | grep -q 'Scroll Lock: *on'" || fail "the LED did not come back on"
sleep 1.5
dunstctl set-paused false
seen_off=no
deadline=$((SECONDS + 10))
until grep -q '1 new messages arrived while notifications were quiet' "$work/notify.log" && [ $seen_off = yes ]; do
    [ $SECONDS -lt $deadline ] || fail "no summary, or no blinking, after the quiet"
    [ "$(led)" = off ] && seen_off=yes
    sleep 0.05
done
sleep 7 # another check: nothing told again
[ "$(grep -c 'arrived while notifications were quiet' "$work/notify.log")" -eq 1 ] || fail "the summary came twice"
[ "$(lines)" -eq 1 ] || fail "a command ran after the quiet: $(cat "$work/out")"
status | grep -q '"quiet": false' || fail "still quiet: $(status)"

kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
echo "PASS"
