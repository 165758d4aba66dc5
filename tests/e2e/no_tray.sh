#!/usr/bin/env bash
# ternbell on an X display without a tray: it checks a private Dovecot and
# tells (the window, the Execute command), and once, a few seconds after the
# first load, a box says how to reach the settings; the hive remembers that,
# so the next start says nothing. When trayer starts, the icon docks; when the
# tray goes away and comes back, it docks again. Screenshots are kept.
#   no_tray.sh <ternbell executable> <dovecot helper> <artefact folder>
set -u

exe=$1
helper=$2
artefacts=$3
mkdir -p "$artefacts"
shots=(no_tray_hint no_tray_docked no_tray_redocked no_tray_failure)
for s in "${shots[@]}"; do rm -f "$artefacts/$s.png"; done

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

open_workspace
failure_shot="$artefacts/no_tray_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "command=$work/out")

start_dovecot "$helper" "$work"
require_dovecot
printf 'From: Ann <ann@example.org>\r\nTo: ann@example.org\r\nSubject: Hello\r\n\r\nhi\r\n' >"$work/one.eml"
deliver_file - "$work/one.eml"

# The X server alone: no tray host until the test starts one.
start_xserver "$work"

make_recorder
config="$work/config"
write_check_hive "$config" 0 "" "$dove_args"
hive="$config/ternbell/user.reg"

# The tray icon: a window of the program's titled "ternbell", 22 pixels wide in
# trayer's 24-pixel bar.
docked() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = ternbell ] || continue
        eval "$(xdotool getwindowgeometry --shell "$w")"
        [ "$WIDTH" -le 24 ] && [ "$Y" -le 2 ] && return 0
    done
    return 1
}
hinted() { grep -Fxq '"NoTrayHintShown"=dword:00000001' "$hive"; }

start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE=
wait_for 20 test -s "$work/out" || fail "the check did not run the command"
grep -Fq '[Account1][1][Ann <ann@example.org>][Hello]' "$work/out" || fail "command line: $(cat "$work/out")"
wait_for 10 window_named 'You have got a mail!' >/dev/null || fail "the notification window is not on screen"
docked && fail "an icon docked without a tray"

# The box, captioned with the program's title; the tray icon has no window.
wait_for 15 window_named ternbell >/dev/null || fail "no hint without a tray"
sleep 0.5
import -window root "$artefacts/no_tray_hint.png"
xdotool windowfocus --sync "$(window_named ternbell)" key Return
gone_box() { ! window_named ternbell >/dev/null; }
wait_for 5 gone_box || fail "the hint box did not close"
wait_for 5 hinted || fail "the hive does not remember the hint"

# The second start: a TERM saves and ends; the next run says nothing.
stop "$app_pid"
app_pid=""
start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE=
sleep 9 # the first load comes after a second, the hint 5 s later
kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
window_named ternbell >/dev/null && fail "the hint came again on the second start"

# A tray now: the icon docks, and again after the tray went and came back.
start_trayer "$work"
wait_for 10 docked || fail "the icon did not dock when trayer started"
sleep 0.5
import -window root "$artefacts/no_tray_docked.png"
stop "$trayer_pid"
trayer_pid=""
gone_icon() { ! docked; }
wait_for 5 gone_icon || fail "the icon stayed after the tray went"
start_trayer "$work"
wait_for 10 docked || fail "the icon did not dock when the tray came back"
sleep 0.5
import -window root "$artefacts/no_tray_redocked.png"
kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
echo "PASS"
