# Sourced by the end-to-end scripts: a private X server with a tray host, and
# the polling, stopping and failing around it.
#   need_tools <tool>...             skips (exit 77) when one is missing
#   fail <text>                      says why, keeps a screenshot as
#                                    $failure_shot, shows each "label=file" of
#                                    $failure_logs that exists, exits 1
#   wait_for <seconds> <command...>  polls until the command succeeds
#   stop <pid>                       TERM, then KILL after 5 s
#   start_xsession <folder>          Xvfb (96 DPI, screen $xvfb_screen) and
#                                    trayer, their files in <folder>;
#                                    exports DISPLAY
#   start_xserver <folder>           only the X server, no tray host
#   start_trayer <folder>            the tray host, on the display there is
#   stop_xsession

xvfb_pid="" trayer_pid="" failure_shot="" failure_logs=() xvfb_screen=800x600x24

need_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
}

fail() {
    echo "FAIL: $*"
    [ -n "${DISPLAY:-}" ] && [ -n "$failure_shot" ] && import -window root "$failure_shot" 2>/dev/null
    local log
    for log in "${failure_logs[@]}"; do
        [ -f "${log#*=}" ] && sed "s/^/${log%%=*}: /" "${log#*=}"
    done
    exit 1
}

wait_for() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# Xvfb picks a free display itself and reports its number. -noreset keeps the
# server (and its state) when the last client leaves.
start_xserver() {
    local folder=$1
    Xvfb -displayfd 3 -noreset -dpi 96 -screen 0 "$xvfb_screen" 3>"$folder/display" 2>"$folder/xvfb.log" &
    xvfb_pid=$!
    wait_for 10 grep -q '[0-9]' "$folder/display" || fail "Xvfb did not start"
    export DISPLAY=":$(tr -dc '0-9' <"$folder/display")"
    wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "display $DISPLAY does not answer"
}

start_trayer() {
    trayer --edge top --align right --widthtype pixel --width 100 --height 24 \
        >"$1/trayer.log" 2>&1 &
    trayer_pid=$!
    wait_for 10 xdotool search --onlyvisible --class trayer >/dev/null || fail "trayer did not start"
}

start_xsession() {
    start_xserver "$1"
    start_trayer "$1"
}

stop_xsession() {
    stop "$trayer_pid"
    stop "$xvfb_pid"
    trayer_pid="" xvfb_pid=""
}

# The program under test, for the scripts that run it:
#   open_workspace       a private folder in $work; at exit the program
#                        ($app_pid), the X session, the Dovecot where one
#                        runs, and the folder go
#   make_recorder        a command at "$work/record args" that appends one
#                        line per run, its arguments each in brackets, to
#                        $work/out; $escaped_record is its path quoted for a
#                        hive string
#   write_hive <config>  the hive file from standard input, private
#   hive_check_settings <accounts> <blinking 0|1> <icon>
#                        the program's section of a hive for a check run:
#                        a check every 5 s, the window shown, no sound, the
#                        recorder as the Execute command
#   hive_account <n> <caption> <user> <port> <imap4 0|1> [line]
#                        account n on 127.0.0.1, password "secret"; the
#                        line, when given, is added as it is
#   write_check_hive <config> <blinking 0|1> <icon> <port>
#                        the hive of a check run with one POP3 account,
#                        "Home" for ann on <port>
#   start_ternbell <exe> <config> [env arguments...]
#                        starts it on this display with only this hive and
#                        no desktop data; output to $work/ternbell.log; on
#                        the platform $ternbell_platform (xcb by default)
#   run_ternbell <exe> <config> [env arguments...]
#                        the same in the foreground, output left as it is
#   window_named <title> the program's visible window of that exact title,
#                        or a failure

app_pid="" work=""

open_workspace() {
    work=$(mktemp -d)
    trap close_workspace EXIT
}

close_workspace() {
    stop "$app_pid"
    stop_xsession
    if declare -F stop_dovecot >/dev/null; then
        stop_dovecot
    fi
    rm -rf "$work"
}

make_recorder() {
    record="$work/record args"
    cat >"$record" <<RECORDER
#!/bin/sh
# One write per command: the commands run side by side, so their lines
# may arrive in any order but must never mix.
line=\$(for a in "\$@"; do printf '[%s]' "\$a"; done)
printf '%s\\n' "\$line" >>"$work/out"
RECORDER
    chmod 755 "$record"
    escaped_record=$(printf '%s' "$record" | sed 's/\\/\\\\/g; s/"/\\"/g')
}

write_hive() {
    mkdir -p -m 700 "$1/ternbell"
    (
        umask 077
        cat >"$1/ternbell/user.reg"
    )
}

hive_check_settings() {
    cat <<EOF
[HKEY_CURRENT_USER\\Software\\ternbell]
"EmailClient"=""
"CheckingTime"=dword:00000005
"NotifyOnlyNewMsg"=dword:00000001
"RequiredPriority"=dword:00000004
"ShowForm"=dword:00000001
"PlaySound"=""
"ScrLckBlinking"=dword:0000000$2
"ShowIcon"="$3"
"Execute"="\\"$escaped_record\\" %ACCOUNT% %MSGID% %FROM% %SUBJECT% %SIZE%"
"FormAutoHide"=dword:00000000
"FormAnimation"=""
"AccountsNo"=dword:0000000$1
EOF
}

hive_account() {
    cat <<EOF
[HKEY_CURRENT_USER\\Software\\ternbell\\Account$1]
"Caption"="$2"
"UserName"="$3"
"UserPassword"="secret"
"HostAddress"="127.0.0.1"
"HostPort"="$4"
"IMAP4"=dword:0000000$5
"AccountEnabled"=dword:00000001
EOF
    [ -z "${6:-}" ] || printf '%s\n' "$6"
}

# Replaces the shell it runs in, so a background start's $! is the program.
exec_ternbell() {
    local exe=$1 config=$2
    shift 2
    exec env -u DBUS_SESSION_BUS_ADDRESS "$@" QT_QPA_PLATFORM="${ternbell_platform:-xcb}" XDG_CONFIG_HOME="$config" \
        XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/empty" XDG_DATA_DIRS="$work/empty" \
        XDG_CONFIG_DIRS="$work/empty" "$exe"
}

write_check_hive() {
    write_hive "$1" <<EOF
REGEDIT4

$(hive_check_settings 1 "$2" "$3")

$(hive_account 1 Home ann "$4" 0)
EOF
}

run_ternbell() {
    (exec_ternbell "$@")
}

start_ternbell() {
    exec_ternbell "$@" >"$work/ternbell.log" 2>&1 &
    app_pid=$!
}

window_named() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && echo "$w" && return 0
    done
    return 1
}
