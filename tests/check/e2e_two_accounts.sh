#!/usr/bin/env bash
# ternbell checks one POP3 and one IMAP4 account on the same private Dovecot
# under its own X server, from a prepared hive file: the messages of both
# accounts become rows, and the Execute command runs once per new message
# with the account's number. A screenshot is kept in the artefact folder.
#   plain: both accounts without TLS;
#   tls:   POP3 secured with STLS and IMAPS, the server's certificate from a
#          throw-away CA trusted only through SSL_CERT_FILE.
#   e2e_two_accounts.sh <ternbell executable> <dovecot helper> <artefact folder> plain|tls
set -u

exe=$1
helper=$2
artefacts=$3
mode=$4
name=$([ "$mode" = tls ] && echo e2e_tls || echo e2e_imap4)
mkdir -p "$artefacts"
rm -f "$artefacts/${name}_failure.png"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

work=$(mktemp -d)
app_pid="" dove_pid=""

cleanup() {
    stop "$app_pid"
    stop_xsession
    if [ -n "$dove_pid" ]; then
        exec {dove_in}>&- 2>/dev/null # end of input stops the server
        for _ in $(seq 1 100); do
            kill -0 "$dove_pid" 2>/dev/null || break
            sleep 0.1
        done
        stop "$dove_pid"
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failure_shot="$artefacts/${name}_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "command=$work/out")

# --- the mail server: ann is read by POP3, bob by IMAP4
mkfifo "$work/dove_in" "$work/dove_out"
mkdir "$work/tls"
tls_env=()
[ "$mode" = tls ] && tls_env=(TERNBELL_E2E_TLS_DIR="$work/tls")
env "${tls_env[@]}" "$helper" <"$work/dove_in" >"$work/dove_out" 2>"$work/dove.log" &
dove_pid=$!
exec {dove_in}>"$work/dove_in" {dove_out}<"$work/dove_out"
read -r -t 30 -u "$dove_out" kind pop3_port || fail "the Dovecot helper did not answer"
if [ "$kind" = unavailable ]; then
    echo "SKIP: Dovecot cannot run here: $pop3_port"
    exit 77
fi
[ "$kind" = pop3 ] || fail "Dovecot did not start: $kind $pop3_port $(cat "$work/dove.log")"
if [ "$mode" = tls ]; then
    echo tls >&"$dove_in"
    read -r -t 10 -u "$dove_out" kind pop3s_port imap_port || fail "no answer to tls"
    [ "$kind" = tls ] && [ "$imap_port" -gt 0 ] || fail "tls: $kind $pop3s_port $imap_port"
    # The IMAP4 subject arrives encoded in UTF-8 and is listed decoded.
    imap_subject='=?UTF-8?B?SGVsbG8=?= over IMAPS' imap_listed='Hello over IMAPS'
    pop3_security='"Security"=dword:00000001' imap_security='"Security"=dword:00000002'
else
    echo imap >&"$dove_in"
    read -r -t 10 -u "$dove_out" kind imap_port || fail "no answer to imap"
    [ "$kind" = imap ] || fail "imap: $kind $imap_port"
    imap_subject='By IMAP4 one' imap_listed='By IMAP4 one'
    pop3_security='' imap_security=''
fi

# deliver <user> <name> <from> <subject>; the size goes to $work/<name>.size.
deliver() {
    local file="$work/$2.eml" answer
    printf 'From: %s\r\nTo: %s@example.org\r\nSubject: %s\r\n\r\nbody of %s\r\n' \
        "$3" "$1" "$4" "$2" >"$file"
    stat -c %s "$file" >"$work/$2.size"
    echo "deliver-to $1 $file" >&"$dove_in"
    read -r -t 10 -u "$dove_out" answer || fail "no answer to deliver"
    [ "$answer" = ok ] || fail "deliver: $answer"
}
deliver ann p1 'Ann <ann@example.org>' 'By POP3 one'
deliver ann p2 'ann2@example.org' 'By POP3 two'
deliver bob i1 'Bob <bob@example.org>' "$imap_subject"
deliver bob i2 'bob2@example.org' 'By IMAP4 two; $(id) "q"'

start_xsession "$work"

record="$work/record args"
cat >"$record" <<EOF
#!/bin/sh
line=\$(for a in "\$@"; do printf '[%s]' "\$a"; done)
printf '%s\\n' "\$line" >>"$work/out"
EOF
chmod 755 "$record"
escaped_record=$(printf '%s' "$record" | sed 's/\\/\\\\/g; s/"/\\"/g')
config="$work/config"
mkdir -p -m 700 "$config/ternbell"
(
    umask 077
    cat >"$config/ternbell/user.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\ternbell]
"EmailClient"=""
"CheckingTime"=dword:00000005
"NotifyOnlyNewMsg"=dword:00000001
"RequiredPriority"=dword:00000004
"ShowForm"=dword:00000001
"PlaySound"=""
"ScrLckBlinking"=dword:00000000
"ShowIcon"=""
"Execute"="\\"$escaped_record\\" %ACCOUNT% %MSGID% %FROM% %SUBJECT% %SIZE%"
"FormAutoHide"=dword:00000000
"FormAnimation"=""
"AccountsNo"=dword:00000002

[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]
"Caption"="Pop"
"UserName"="ann"
"UserPassword"="secret"
"HostAddress"="127.0.0.1"
"HostPort"="$pop3_port"
"IMAP4"=dword:00000000
"AccountEnabled"=dword:00000001
$pop3_security

[HKEY_CURRENT_USER\\Software\\ternbell\\Account2]
"Caption"="Imap"
"UserName"="bob"
"UserPassword"="secret"
"HostAddress"="127.0.0.1"
"HostPort"="$imap_port"
"IMAP4"=dword:00000001
"AccountEnabled"=dword:00000001
$imap_security
EOF
)

trust=()
[ "$mode" = tls ] && trust=(-u SSL_CERT_DIR SSL_CERT_FILE="$work/tls/ca.pem")
env -u DBUS_SESSION_BUS_ADDRESS "${trust[@]}" \
    QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$config" \
    XDG_DATA_HOME="$work/empty" XDG_DATA_DIRS="$work/empty" XDG_CONFIG_DIRS="$work/empty" \
    LANG=C.UTF-8 LC_ALL= LANGUAGE= "$exe" >"$work/ternbell.log" 2>&1 &
app_pid=$!

lines() { [ -f "$work/out" ] && wc -l <"$work/out" || echo 0; }
have_lines() { [ "$(lines)" -ge "$1" ]; }
expected() { # <account> <number> <name> <from> <subject>
    printf '[Account%s][%s][%s][%s][%s  B]' "$1" "$2" "$4" "$5" "$(cat "$work/$3.size")"
}

wait_for 20 have_lines 4 || fail "the command ran $(lines) times, expected 4"
wait_for 10 xdotool search --onlyvisible --name '^You have got a mail!$' >/dev/null ||
    fail "the notification window is not on screen"
mapfile -t got < <(sort "$work/out")
want=("$(expected 1 1 p1 'Ann <ann@example.org>' 'By POP3 one')"
      "$(expected 1 2 p2 'ann2@example.org' 'By POP3 two')"
      "$(expected 2 1 i1 'Bob <bob@example.org>' "$imap_listed")"
      "$(expected 2 2 i2 'bob2@example.org' 'By IMAP4 two; $(id) "q"')")
for i in 0 1 2 3; do
    [ "${got[$i]}" = "${want[$i]}" ] || fail "line $((i + 1)): '${got[$i]}', expected '${want[$i]}'"
done

sleep 0.5 # let the window paint
import -window root "$artefacts/$name.png"

# The next check (interval 5 s) finds nothing new: the command does not run again.
sleep 6
[ "$(lines)" -eq 4 ] || fail "$(lines) lines after a second check, expected 4"
kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended"
echo "PASS"
