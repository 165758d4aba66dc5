# Sourced by the end-to-end scripts: a private X server with a tray host, and
# the polling, stopping and failing around it.
#   need_tools <tool>...             skips (exit 77) when one is missing
#   fail <text>                      says why, keeps a screenshot as
#                                    $failure_shot, shows each "label=file" of
#                                    $failure_logs that exists, exits 1
#   wait_for <seconds> <command...>  polls until the command succeeds
#   stop <pid>                       TERM, then KILL after 5 s
#   start_xsession <folder>          Xvfb and trayer, their files in <folder>;
#                                    exports DISPLAY
#   stop_xsession

xvfb_pid="" trayer_pid="" failure_shot="" failure_logs=()

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
start_xsession() {
    local folder=$1
    Xvfb -displayfd 3 -noreset -screen 0 800x600x24 3>"$folder/display" 2>"$folder/xvfb.log" &
    xvfb_pid=$!
    wait_for 10 grep -q '[0-9]' "$folder/display" || fail "Xvfb did not start"
    export DISPLAY=":$(tr -dc '0-9' <"$folder/display")"
    wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "display $DISPLAY does not answer"
    trayer --edge top --align right --widthtype pixel --width 100 --height 24 \
        >"$folder/trayer.log" 2>&1 &
    trayer_pid=$!
    wait_for 10 xdotool search --onlyvisible --class trayer >/dev/null || fail "trayer did not start"
}

stop_xsession() {
    stop "$trayer_pid"
    stop "$xvfb_pid"
    trayer_pid="" xvfb_pid=""
}
