#!/usr/bin/env bash
# ternbell as a Wayland client of a headless weston, with no X display: it
# checks a private Dovecot, tells (the window, the Execute command), skips the
# Scroll Lock blinking it is set up for without a word in its output, and a
# second start shows the running one's settings window. Without a tray host
# the hint box comes. The compositor's own screenshots are kept and compared
# with the empty desktop, so a window that never mapped fails the run.
#   wayland.sh <ternbell executable> <dovecot helper> <artefact folder>
set -u

exe=$1
helper=$2
artefacts=$3
mkdir -p "$artefacts"
for s in wayland_desktop wayland_new_mail wayland_settings wayland_failure; do rm -f "$artefacts/$s.png"; done

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools weston weston-screenshooter compare
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-*.so >/dev/null 2>&1 ||
    { echo "SKIP: the toolkit's Wayland platform is not installed"; exit 77; }

open_workspace
unset DISPLAY
failure_logs=("ternbell=$work/ternbell.log" "weston=$work/weston.log" "command=$work/out")

start_dovecot "$helper" "$work"
require_dovecot
printf 'From: Ann <ann@example.org>\r\nTo: ann@example.org\r\nSubject: Hello\r\n\r\nhi\r\n' >"$work/one.eml"
deliver_file - "$work/one.eml"

# --debug lets weston-screenshooter ask for the screen; pixman renders it.
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston --backend=headless-backend.so --use-pixman --width=800 --height=600 --socket=wl-ternbell \
    --idle-time=0 --debug >"$work/weston.log" 2>&1 &
weston_pid=$!
trap 'stop "$weston_pid"; close_workspace' EXIT
export WAYLAND_DISPLAY=wl-ternbell
wait_for 10 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || fail "weston did not start"

# shoot <name>: the compositor's picture of the screen
shoot() {
    rm -f "$work"/wayland-screenshot*.png
    (cd "$work" && timeout 10 weston-screenshooter) >/dev/null 2>&1
    mv "$work"/wayland-screenshot*.png "$artefacts/$1.png" 2>/dev/null || fail "no screenshot from weston"
}
differs() { # <picture> <picture>: more than a hundred pixels differ
    local n
    n=$(compare -metric AE "$1" "$2" null: 2>&1)
    [ "${n%% *}" -gt 100 ]
}
sleep 1 # the panel paints
shoot wayland_desktop

make_recorder
config="$work/config"
write_check_hive "$config" 1 "" "$dove_args"

ternbell_platform=wayland
start_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE=

wait_for 20 test -s "$work/out" || fail "the check did not run the command"
grep -Fq '[Account1][1][Ann <ann@example.org>][Hello]' "$work/out" || fail "command line: $(cat "$work/out")"
sleep 3 # one second of blinking is three half-second steps
kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
shoot wayland_new_mail
differs "$artefacts/wayland_desktop.png" "$artefacts/wayland_new_mail.png" ||
    fail "no window on the screen after new mail"

# The application menu's entry starts ternbell again: the running one shows
# its settings.
run_ternbell "$exe" "$config" LANG=C.UTF-8 LC_ALL= LANGUAGE= >"$work/second.log" 2>&1 || fail "the second start failed: $(cat "$work/second.log")"
grep -q 'its settings window is shown' "$work/second.log" || fail "second start: $(cat "$work/second.log")"
sleep 1
shoot wayland_settings
differs "$artefacts/wayland_new_mail.png" "$artefacts/wayland_settings.png" ||
    fail "the settings window did not open"

# Nothing but the toolkit's own notes: no X error, no failed tray, no warning
# of ours about the LED or the display.
if grep -v -e '^QStandardPaths:' -e '^qt\.qpa\.wayland: Wayland does not support QWindow::requestActivate' \
    "$work/ternbell.log" | grep -q .; then
    fail "unexpected output"
fi
echo "PASS"
