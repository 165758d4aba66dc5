#!/usr/bin/env bash
# First start of ternbell under a private X server with a tray host and a fresh
# configuration folder: the hive file gets every default and the settings
# window opens; Exit from the tray menu, answered Yes, saves and ends the
# program. Screenshots are kept in the artefact folder.
#   first_start.sh <ternbell executable> <artefact folder>
set -u

exe=$1
artefacts=$2
mkdir -p "$artefacts"
rm -f "$artefacts"/{failure,first_start,tray_menu,exit_confirm}.png

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

work=$(mktemp -d)
app_pid=""

cleanup() {
    stop "$app_pid"
    stop_xsession
    rm -rf "$work"
}
trap cleanup EXIT

failure_shot="$artefacts/failure.png"
failure_logs=("ternbell=$work/ternbell.log")

start_xsession "$work"
echo "display $DISPLAY"

config="$work/config"
mkdir -p "$config" "$work/empty"
# No session bus: the tray icon goes to the X tray. The machine's mail client
# settings stay out of the way, so the default client is empty.
env -u DBUS_SESSION_BUS_ADDRESS -u LC_ALL -u LANGUAGE QT_QPA_PLATFORM=xcb LANG=C.UTF-8 XDG_CONFIG_HOME="$config" \
    XDG_DATA_HOME="$work/empty" XDG_DATA_DIRS="$work/empty" XDG_CONFIG_DIRS="$work/empty" \
    "$exe" >"$work/ternbell.log" 2>&1 &
app_pid=$!

hive="$config/ternbell/user.reg"
folder=$(cd "$(dirname "$exe")" && pwd)
main_values=(
    '"EmailClient"=""'
    '"CheckingTime"=dword:0000012c'
    '"DoubleClick"=dword:00000000'
    '"NotifyOnlyNewMsg"=dword:00000001'
    '"RequiredPriority"=dword:00000004'
    '"ShowForm"=dword:00000001'
    "\"PlaySound\"=\"$folder/notify.wav\""
    '"ScrLckBlinking"=dword:00000000'
    "\"ShowIcon\"=\"$folder/newmsg.ico\""
    '"Execute"=""'
    '"FormAutoHide"=dword:00000000'
    "\"FormAnimation\"=\"$folder/notify.avi\""
    '"FormStayOnTop"=dword:00000001'
    '"FormSaveDetails"=dword:00000001'
    '"FormShowDetails"=dword:00000001'
    '"AccountsNo"=dword:00000001'
)
account_values=(
    '"Caption"="My Account"'
    '"UserName"="User Name"'
    '"UserPassword"=""'
    '"HostAddress"="POP3 Server"'
    '"HostPort"="110"'
    '"IMAP4"=dword:00000000'
    '"AccountEnabled"=dword:00000001'
)

# The values of one [key] section of the hive, one per line.
section() {
    KEY="[HKEY_CURRENT_USER\\$1]" awk '
        /^\[/ { inside = ($0 == ENVIRON["KEY"]); next }
        inside && NF { print }' "$hive"
}

hive_complete() {
    local columns=$1 v
    [ -f "$hive" ] || return 1
    for v in "${main_values[@]}" "\"FormColumnsWidth\"=\"$columns\""; do
        section 'Software\ternbell' | grep -Fxq -- "$v" || return 1
    done
    for v in "${account_values[@]}"; do
        section 'Software\ternbell\Account1' | grep -Fxq -- "$v" || return 1
    done
}

report_hive() {
    local columns=$1 v
    echo "--- $hive"
    cat "$hive" 2>/dev/null
    for v in "${main_values[@]}" "\"FormColumnsWidth\"=\"$columns\""; do
        section 'Software\ternbell' | grep -Fxq -- "$v" || echo "missing in Software\\ternbell: $v"
    done
    for v in "${account_values[@]}"; do
        section 'Software\ternbell\Account1' | grep -Fxq -- "$v" || echo "missing in Account1: $v"
    done
}

# The first tick, about a second after start, loads (and so creates) the
# configuration and opens the settings window.
if ! wait_for 10 hive_complete "100,100,100,100,0"; then
    report_hive "100,100,100,100,0"
    fail "the hive did not get every default"
fi
[ "$(stat -c %a "$hive")" = 600 ] || fail "the hive is not private (mode $(stat -c %a "$hive"))"
wait_for 10 xdotool search --onlyvisible --name '^ternbell settings$' >/dev/null ||
    fail "the settings window is not on screen"
sleep 0.5 # let it paint
import -window root "$artefacts/first_start.png"

# Exit through the tray menu.
# The tray icon is the program's window titled just "ternbell".
icon=""
for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w")" = ternbell ] && icon=$w && break
done
[ -n "$icon" ] || fail "no tray icon"
eval "$(xdotool getwindowgeometry --shell "$icon")"
windows_before=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
menu_open() {
    [ "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)" -gt "$windows_before" ]
}
wait_for 5 menu_open || fail "the tray menu did not open"
sleep 0.3
import -window root "$artefacts/tray_menu.png"
# Exit is the last of the six items.
xdotool key Up
sleep 0.2
xdotool key Return
wait_for 5 xdotool search --onlyvisible --name '^Confirm$' >/dev/null ||
    fail "no confirmation box"
sleep 0.3
import -window root "$artefacts/exit_confirm.png"
xdotool key y

gone() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for 15 gone || fail "ternbell did not end after Exit"
wait "$app_pid"
status=$?
app_pid=""
[ $status -eq 0 ] || fail "ternbell ended with status $status"

if ! hive_complete "100,100,100,100,0,0"; then
    report_hive "100,100,100,100,0,0"
    fail "the hive is not complete after Exit"
fi
echo "PASS"
