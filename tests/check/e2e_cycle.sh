#!/usr/bin/env bash
# ternbell checks a private Dovecot under its own X server with a tray host,
# from a prepared hive file: within a few seconds of the start the
# notification window is on screen, the Execute command has written one line
# per message (account, number, sender, subject, size), and the Scroll Lock
# LED has blinked and is back as it was. A fourth message gives one more line
# at the next check. A screenshot is kept in the artefact folder.
#   e2e_cycle.sh <ternbell executable> <dovecot helper> <artefact folder>
set -u

exe=$1
helper=$2
artefacts=$3
mkdir -p "$artefacts"
rm -f "$artefacts/e2e_cycle_failure.png"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool xset import xdpyinfo nm
if ! nm -C "$exe" 2>/dev/null | grep -q 'TMailCheck::CheckAccounts'; then
    echo "SKIP: $exe does not run the check cycle (not wired into the shell)"
    exit 77
fi

open_workspace

failure_shot="$artefacts/e2e_cycle_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "command=$work/out")

# --- the mail server
start_dovecot "$helper" "$work"
require_dovecot
port=$dove_args

# deliver <name> <from> <subject>: one message into ann's Maildir; its size in
# octets goes to $work/<name>.size.
deliver() {
    local file="$work/$1.eml"
    printf 'From: %s\r\nTo: ann@example.org\r\nSubject: %s\r\n\r\nbody of %s\r\n' \
        "$2" "$3" "$1" >"$file"
    stat -c %s "$file" >"$work/$1.size"
    deliver_file - "$file"
}
deliver one 'Ann <ann@example.org>' 'Hello there'
deliver two 'bob@example.org' 'Invoice; $(id) `id` "quoted"'
deliver three '"Cy, the third" <cy@example.org>' 'Three'

# --- the display and the tray
start_xsession "$work"

led() { xset q | sed -n 's/.*Scroll Lock: *\([a-z]*\).*/\1/p'; }
# Scroll Lock on before the start: the blinking must bring it back on.
xset led named 'Scroll Lock' 2>/dev/null || xset led 3
[ "$(led)" = on ] || fail "cannot switch the Scroll Lock LED on (it reads '$(led)')"

# --- the prepared configuration
make_recorder
folder=$(cd "$(dirname "$exe")" && pwd)
config="$work/config"
write_check_hive "$config" 1 "$folder/newmsg.ico" "$port"

# --- the program
start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE=

lines() { [ -f "$work/out" ] && wc -l <"$work/out" || echo 0; }
have_lines() { [ "$(lines)" -ge "$1" ]; }
expected() { # <number> <name> <from> <subject>
    printf '[Account1][%s][%s][%s][%s  B]' "$1" "$3" "$4" "$(cat "$work/$2.size")"
}

# The first check comes about a second after the start. Watch the LED while
# waiting for the three lines: it must go off at least once.
seen_off=no
deadline=$((SECONDS + 20))
while [ $SECONDS -lt $deadline ]; do
    [ "$(led)" = off ] && seen_off=yes
    [ "$(lines)" -ge 3 ] && [ $seen_off = yes ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
    sleep 0.05
done
[ "$(lines)" -ge 3 ] || fail "the command did not run for three messages"
[ $seen_off = yes ] || fail "the Scroll Lock LED did not blink"
wait_for 10 xdotool search --onlyvisible --name '^You have got a mail!$' >/dev/null ||
    fail "the notification window is not on screen"

mapfile -t got < <(sort "$work/out")
want=("$(expected 1 one 'Ann <ann@example.org>' 'Hello there')"
      "$(expected 2 two 'bob@example.org' 'Invoice; $(id) `id` "quoted"')")
for i in 0 1; do
    [ "${got[$i]}" = "${want[$i]}" ] || fail "line $((i + 1)): '${got[$i]}', expected '${want[$i]}'"
done
# The display form of the third sender is the header model's; the rest is fixed.
case "${got[2]}" in
    "[Account1][3]["*"cy@example.org"*"][Three][$(cat "$work/three.size")  B]") ;;
    *) fail "line 3: '${got[2]}'" ;;
esac

# Blinking for one second is three toggles: the LED ends as it was, on.
wait_for 5 sh -c "xset q | grep -q 'Scroll Lock: *on'" || fail "the Scroll Lock LED stayed off"
sleep 1.5
[ "$(led)" = on ] || fail "the Scroll Lock LED is not back on"

sleep 0.5 # let the window paint
import -window root "$artefacts/e2e_cycle.png"

# A fourth message: one more line at the next check (interval 5 s), none for
# the three already listed.
deliver four 'Dee <dee@example.org>' 'Four'
wait_for 20 have_lines 4 || fail "no line for the fourth message"
sleep 6 # one more check: nothing new, nothing run
[ "$(lines)" -eq 4 ] || fail "$(lines) lines after the fourth message, expected 4"
mapfile -t got < <(sort "$work/out")
[ "${got[3]}" = "$(expected 4 four 'Dee <dee@example.org>' 'Four')" ] ||
    fail "line 4: '${got[3]}'"
import -window root "$artefacts/e2e_cycle_fourth.png"

kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
echo "PASS"
