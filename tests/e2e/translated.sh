#!/usr/bin/env bash
# ternbell in another language under a private X server with a tray host: a
# private Dovecot holds three messages, and with LANG set to the language
# (whose locale need not be generated here) the notification window with its
# three rows, the tray menu, the settings window's four pages, the about box
# and the exit confirmation come up in that language. Exit is answered with
# the translated accelerator of Yes. Screenshots are kept in the artefact
# folder as translated_<lang>_*.png, to be looked at for clipped texts. With
# a scale, the toolkit scales everything by it (QT_SCALE_FACTOR) on a screen
# large enough for it, and the shots are translated_<lang>_<scale>x_*.png.
#   translated.sh <ternbell executable> <dovecot helper> <artefact folder> <LANG value> [scale]
set -u

exe=$1
helper=$2
artefacts=$3
lang_value=$4
scale=${5:-}
lang=${lang_value%%_*}
[ "$lang_value" = C.UTF-8 ] && lang=en
shots=translated_${lang}${scale:+_${scale}x}
mkdir -p "$artefacts"
for name in newmail tray_menu settings_1 settings_2 settings_3 settings_4 about confirm failure; do
    rm -f "$artefacts/${shots}_$name.png"
done

# Window titles as xdotool patterns: letters outside ASCII (and the French
# no-break space) are matched by wildcards, as X may hand titles over in
# another encoding.
case $lang in
    de) newmail='Sie haben Post!' settings='ternbell-Einstellungen' about='.+ber \.\.\.'
        confirm='Best.+tigen' yes=j ;;
    fr) newmail='Vous avez du courrier.+!' settings='Param.+tres de ternbell'
        about='.+ propos \.\.\.' confirm='Confirmation' yes=o ;;
    en) newmail='You have got a mail!' settings='ternbell settings' about='About \.\.\.'
        confirm='Confirm' yes=y ;;
    *) echo "no expectations for $lang"; exit 1 ;;
esac

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

open_workspace

failure_shot="$artefacts/${shots}_failure.png"
failure_logs=("ternbell=$work/ternbell.log")

# --- the mail server with three messages
start_dovecot "$helper" "$work"
require_dovecot
port=$dove_args
deliver() {
    local file="$work/$1.eml"
    printf 'From: %s\r\nTo: ann@example.org\r\nSubject: %s\r\n\r\nbody\r\n' "$2" "$3" >"$file"
    deliver_file - "$file"
}
deliver one 'Ann <ann@example.org>' 'Hello there'
deliver two 'bob@example.org' 'Quarterly figures'
deliver three '"Cy, the third" <cy@example.org>' 'Three'

[ -z "$scale" ] || xvfb_screen=1600x1200x24
start_xsession "$work"

# --- the configuration: one account; no second tray icon, no sound
config="$work/config"
write_hive "$config" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\ternbell]
"EmailClient"=""
"CheckingTime"=dword:0000012c
"NotifyOnlyNewMsg"=dword:00000001
"RequiredPriority"=dword:00000004
"ShowForm"=dword:00000001
"PlaySound"=""
"ScrLckBlinking"=dword:00000000
"ShowIcon"=""
"Execute"=""
"FormAutoHide"=dword:00000000
"AccountsNo"=dword:00000001

$(hive_account 1 Home ann "$port" 0)
EOF

start_ternbell "$exe" "$config" -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="$lang_value" \
    ${scale:+QT_SCALE_FACTOR=$scale}

shot() { # <name> [window]
    sleep 0.5 # let it paint
    import -window "${2:-root}" "$artefacts/${shots}_$1.png"
}
window_named() {
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && echo "$id"
}

# --- the notification window with three rows
wait_for 20 window_named "$newmail" >/dev/null || fail "no notification window titled '$newmail'"
shot newmail "$(window_named "$newmail")"

# --- the tray menu
icon=""
for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w")" = ternbell ] && icon=$w && break
done
[ -n "$icon" ] || fail "no tray icon"
open_menu() {
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    local before
    before=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    wait_for 5 sh -c "[ \$(xdotool search --onlyvisible --pid $app_pid 2>/dev/null | wc -l) -gt $before ]" ||
        fail "the tray menu did not open"
    sleep 0.3
}
open_menu
shot tray_menu
# Settings is the fifth of six items: up from the bottom twice.
xdotool key Up Up Return
wait_for 5 window_named "$settings" >/dev/null || fail "no settings window titled '$settings'"
win=$(window_named "$settings")
# Without a window manager a click gives the window the keyboard.
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 60)) click 1
sleep 0.3
for page in 1 2 3 4; do
    shot "settings_$page" "$win"
    xdotool key ctrl+Tab
done

# --- the about box, first item of the menu
open_menu
xdotool key Down Return
wait_for 5 window_named "$about" >/dev/null || fail "no about box titled '$about'"
shot about "$(window_named "$about")"
xdotool key Return
about_gone() { ! window_named "$about" >/dev/null; }
wait_for 5 about_gone ||
    fail "the about box did not close"

# --- Exit, confirmed with the translated Yes
open_menu
xdotool key Up Return
wait_for 5 window_named "$confirm" >/dev/null || fail "no confirmation box titled '$confirm'"
shot confirm "$(window_named "$confirm")"
xdotool key "$yes"
gone() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for 15 gone || fail "ternbell did not end on '$yes'"
wait "$app_pid"
status=$?
app_pid=""
[ $status -eq 0 ] || fail "ternbell ended with status $status"
echo "PASS"
