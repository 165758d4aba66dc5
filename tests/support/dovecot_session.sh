# Sourced by the end-to-end scripts after xsession.sh: a private Dovecot run by
# the test helper, which answers each request on its input with one line.
#   start_dovecot <helper> <folder> [NAME=value...]
#                        starts the helper (with the environment given), its
#                        pipes and log in <folder>; its first answer is read
#                        into $dove_kind and $dove_args
#   require_dovecot      skips (exit 77) where Dovecot cannot run, fails when
#                        it did not start
#   dovecot_ask <request...>
#                        one request; the answer line goes to $dove_reply
#   deliver_file <user|-> <file>
#                        one message into a user's Maildir ("-": ann)
#   stop_dovecot         end of input stops the server; TERM, KILL if not

dove_pid="" dove_kind="" dove_args="" dove_reply="" dove_log=""

start_dovecot() {
    local helper=$1 folder=$2
    shift 2
    dove_log="$folder/dove.log"
    mkfifo "$folder/dove_in" "$folder/dove_out"
    env "$@" "$helper" <"$folder/dove_in" >"$folder/dove_out" 2>"$dove_log" &
    dove_pid=$!
    exec {dove_in}>"$folder/dove_in" {dove_out}<"$folder/dove_out"
    read -r -t 30 -u "$dove_out" dove_kind dove_args || fail "the Dovecot helper did not answer"
}

require_dovecot() {
    if [ "$dove_kind" = unavailable ]; then
        echo "SKIP: Dovecot cannot run here: $dove_args"
        exit 77
    fi
    [ "$dove_kind" = pop3 ] || fail "Dovecot did not start: $dove_kind $dove_args $(cat "$dove_log")"
}

dovecot_ask() {
    echo "$*" >&"$dove_in"
    read -r -t 10 -u "$dove_out" dove_reply || fail "no answer to $1"
}

deliver_file() {
    if [ "$1" = - ]; then
        dovecot_ask deliver "$2"
    else
        dovecot_ask deliver-to "$1" "$2"
    fi
    [ "$dove_reply" = ok ] || fail "deliver: $dove_reply"
}

stop_dovecot() {
    [ -n "$dove_pid" ] || return 0
    exec {dove_in}>&- 2>/dev/null
    for _ in $(seq 1 100); do
        kill -0 "$dove_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop "$dove_pid"
    dove_pid=""
}
