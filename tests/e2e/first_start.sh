#!/usr/bin/env bash
# First start of ternbell under a private X server with a tray host and a fresh
# configuration folder: the hive file gets every default and the settings
# window opens. The user then sets up the account in that window by mouse and
# keyboard and presses Enter: the hive holds what was typed, and the next
# check logs in to a private Dovecot with it (the new message is shown and the
# tray icon leaves the failure picture). Exit from the tray menu, answered
# Yes, saves and ends the program. The whole run is done at 96 DPI and again
# scaled by 1.5; screenshots of every page are kept in the artefact folder.
#   first_start.sh <ternbell executable> <artefact folder> [<dovecot helper>]
# Without the Dovecot helper (or where Dovecot cannot run) the account points
# at a closed port and the login is not checked.
set -u

exe=$1
artefacts=$2
helper=${3:-}
mkdir -p "$artefacts"
shots=(failure first_start settings_general settings_notification settings_formoptions
       settings_account settings_filled new_mail tray_menu exit_confirm)
for s in "${shots[@]}"; do rm -f "$artefacts/$s.png" "$artefacts/${s}_144.png"; done

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool import xdpyinfo compare

open_workspace

failure_shot="$artefacts/failure.png"
failure_logs=("ternbell=$work/ternbell.log")

# --- the mail server, when there is one: user ann, password secret, one message
port=1 # nothing listens there: the check fails, but the hive can still be read
dovecot=no
if [ -n "$helper" ]; then
    start_dovecot "$helper" "$work"
    if [ "$dove_kind" = pop3 ]; then
        port=$dove_args dovecot=yes
        printf 'From: Ann <ann@example.org>\r\nTo: ann@example.org\r\nSubject: Welcome\r\n\r\nhello\r\n' \
            >"$work/welcome.eml"
        deliver_file - "$work/welcome.eml"
    else
        echo "NOTE: no Dovecot ($dove_kind $dove_args): the login is not checked"
    fi
fi

# Room for the windows at one and a half times the scale as well.
xvfb_screen=1280x1024x24
start_xsession "$work"
echo "display $DISPLAY"

folder=$(cd "$(dirname "$exe")" && pwd)
default_main=(
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
    '"ShowPreview"=dword:00000001'
    '"FormAutoHide"=dword:00000000'
    "\"FormAnimation\"=\"$folder/notify.avi\""
    '"FormStayOnTop"=dword:00000001'
    '"FormSaveDetails"=dword:00000001'
    '"FormShowDetails"=dword:00000001'
    '"AccountsNo"=dword:00000001'
)
default_account=(
    '"Caption"="My Account"'
    '"UserName"="User Name"'
    '"UserPassword"=""'
    '"HostAddress"="POP3 Server"'
    '"HostPort"="110"'
    '"IMAP4"=dword:00000000'
    '"AccountEnabled"=dword:00000001'
)
# What the user types in the window.
typed_account=(
    '"Caption"="My Account"'
    '"UserName"="ann"'
    '"UserPassword"="secret"'
    '"HostAddress"="127.0.0.1"'
    "\"HostPort\"=\"$port\""
    '"IMAP4"=dword:00000000'
    '"AccountEnabled"=dword:00000001'
)

# The values of one [key] section of the hive, one per line.
section() {
    KEY="[HKEY_CURRENT_USER\\$1]" awk '
        /^\[/ { inside = ($0 == ENVIRON["KEY"]); next }
        inside && NF { print }' "$hive"
}

# hive_holds <report yes|no> <main values...> -- <account values...>
hive_holds() {
    local report=$1 key='Software\ternbell' v ok=0
    shift
    [ -f "$hive" ] || { [ "$report" = no ] || echo "no hive at $hive"; return 1; }
    for v in "$@"; do
        if [ "$v" = -- ]; then
            key='Software\ternbell\Account1'
        elif ! section "$key" | grep -Fxq -- "$v"; then
            [ "$report" = no ] && return 1
            echo "missing in $key: $v"
            ok=1
        fi
    done
    [ $ok = 0 ] || { echo "--- $hive"; cat "$hive"; }
    return $ok
}

shoot() { import -window root "$artefacts/$1$suffix.png"; }

# One first start, from a fresh configuration folder.
#   first_start <scale> <suffix for the screenshots>
first_start() {
    local scale=$1
    suffix=$2
    config="$work/config$suffix"
    hive="$config/ternbell/user.reg"
    mkdir -p "$config" "$work/empty"
    # No session bus: the tray icon goes to the X tray. The machine's mail client
    # settings stay out of the way, so the default client is empty.
    start_ternbell "$exe" "$config" QT_SCALE_FACTOR="$scale" LANG=C.UTF-8 LC_ALL= LANGUAGE=

    # The first tick, about a second after start, loads (and so creates) the
    # configuration, opens the settings window and checks "POP3 Server", which
    # fails.
    local first=("${default_main[@]}" '"FormColumnsWidth"="100,100,100,100,0"' -- "${default_account[@]}")
    if ! wait_for 10 hive_holds no "${first[@]}"; then
        hive_holds yes "${first[@]}"
        fail "the hive did not get every default"
    fi
    [ "$(stat -c %a "$hive")" = 600 ] || fail "the hive is not private (mode $(stat -c %a "$hive"))"
    wait_for 10 window_named 'ternbell settings' >/dev/null || fail "the settings window is not on screen"
    local settings
    settings=$(window_named 'ternbell settings')
    sleep 0.5 # let it paint
    shoot first_start

    # The tray icon is the program's window titled just "ternbell".
    local icon
    icon=$(window_named ternbell)
    [ -n "$icon" ] || fail "no tray icon"
    sleep 1 # the first check ends with the failure picture
    import -window "$icon" "$work/icon_failed$suffix.png"

    # --- the user at work. A click on the text at the top of the window
    # activates it; the keyboard focus is then on the page tabs.
    eval "$(xdotool getwindowgeometry --shell "$settings")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 50 / 344)) click 1
    sleep 0.3
    # The check interval, so the next check comes soon: the edit after the
    # mail client and its "..." button.
    xdotool key Tab Tab Tab ctrl+a
    xdotool type --delay 30 5
    sleep 0.3
    shoot settings_general
    xdotool key ctrl+Tab
    sleep 0.3
    shoot settings_notification
    xdotool key ctrl+Tab
    sleep 0.3
    shoot settings_formoptions
    xdotool key ctrl+Tab
    sleep 0.3
    shoot settings_account
    # Opening the Account page selected the one account; Alt+P goes to its
    # properties (the protocol), Tab to the user name and on.
    xdotool key alt+p Tab ctrl+a
    xdotool type --delay 30 ann
    xdotool key Tab ctrl+a
    xdotool type --delay 30 secret
    xdotool key Tab ctrl+a
    xdotool type --delay 30 127.0.0.1
    xdotool key Tab ctrl+a
    xdotool type --delay 30 "$port"
    sleep 0.3
    shoot settings_filled
    xdotool key Return

    gone_settings() { [ -z "$(window_named 'ternbell settings')" ]; }
    wait_for 5 gone_settings || fail "Enter did not close the settings window"
    # OK stores the six column widths of the notification list.
    local saved=("${default_main[@]/#\"CheckingTime\"=*/\"CheckingTime\"=dword:00000005}"
                 '"FormColumnsWidth"="100,100,100,100,0,0"' -- "${typed_account[@]}")
    hive_holds yes "${saved[@]}" || fail "the hive does not hold what was typed"

    if [ $dovecot = yes ]; then
        # The check after the next 5 s logs in as ann: the new message is
        # listed and shown, and the tray icon is no longer the failure picture.
        wait_for 15 window_named 'You have got a mail!' >/dev/null ||
            fail "no new mail shown: the check did not reach Dovecot with the typed account"
        sleep 0.5
        shoot new_mail
        import -window "$icon" "$work/icon_now$suffix.png"
        local differ
        differ=$(compare -metric AE "$work/icon_failed$suffix.png" "$work/icon_now$suffix.png" null: 2>&1)
        [ "${differ%% *}" != 0 ] || fail "the tray icon still shows the failure picture"
    fi

    # --- Exit through the tray menu.
    # The new mail's balloon stands by the icon for its display time (10 s on
    # this tray) and would take the click.
    [ $dovecot = yes ] && sleep 10
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    local windows_before
    windows_before=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    menu_open() {
        [ "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)" -gt "$windows_before" ]
    }
    wait_for 5 menu_open || fail "the tray menu did not open"
    sleep 0.3
    shoot tray_menu
    # Exit is the last of the six items.
    xdotool key Up
    sleep 0.2
    xdotool key Return
    wait_for 5 window_named Confirm >/dev/null || fail "no confirmation box"
    sleep 0.3
    shoot exit_confirm
    xdotool key y

    gone() { ! kill -0 "$app_pid" 2>/dev/null; }
    wait_for 15 gone || fail "ternbell did not end after Exit"
    wait "$app_pid"
    local status=$?
    app_pid=""
    [ $status -eq 0 ] || fail "ternbell ended with status $status"
    hive_holds yes "${saved[@]}" || fail "the hive lost the account at Exit"
}

first_start 1 ""
first_start 1.5 _144
echo "PASS"
