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
source "$(dirname "${BASH_SOURCE[0]}")/../support/dovecot_session.sh"
need_tools Xvfb trayer xdotool import xdpyinfo

open_workspace

failure_shot="$artefacts/${name}_failure.png"
failure_logs=("ternbell=$work/ternbell.log" "command=$work/out")

# --- the mail server: ann is read by POP3, bob by IMAP4
mkdir "$work/tls"
tls_env=()
[ "$mode" = tls ] && tls_env=(TERNBELL_E2E_TLS_DIR="$work/tls")
start_dovecot "$helper" "$work" "${tls_env[@]}"
require_dovecot
pop3_port=$dove_args
if [ "$mode" = tls ]; then
    dovecot_ask tls
    read -r kind pop3s_port imap_port <<<"$dove_reply"
    [ "$kind" = tls ] && [ "$imap_port" -gt 0 ] || fail "tls: $dove_reply"
    # The IMAP4 subject arrives encoded in UTF-8 and is listed decoded.
    imap_subject='=?UTF-8?B?SGVsbG8=?= over IMAPS' imap_listed='Hello over IMAPS'
    pop3_security='"Security"=dword:00000001' imap_security='"Security"=dword:00000002'
else
    dovecot_ask imap
    read -r kind imap_port <<<"$dove_reply"
    [ "$kind" = imap ] || fail "imap: $dove_reply"
    imap_subject='By IMAP4 one' imap_listed='By IMAP4 one'
    pop3_security='' imap_security=''
fi

# deliver <user> <name> <from> <subject>; the size goes to $work/<name>.size.
deliver() {
    local file="$work/$2.eml"
    printf 'From: %s\r\nTo: %s@example.org\r\nSubject: %s\r\n\r\nbody of %s\r\n' \
        "$3" "$1" "$4" "$2" >"$file"
    stat -c %s "$file" >"$work/$2.size"
    deliver_file "$1" "$file"
}
deliver ann p1 'Ann <ann@example.org>' 'By POP3 one'
deliver ann p2 'ann2@example.org' 'By POP3 two'
deliver bob i1 'Bob <bob@example.org>' "$imap_subject"
deliver bob i2 'bob2@example.org' 'By IMAP4 two; $(id) "q"'

start_xsession "$work"

make_recorder
config="$work/config"
write_hive "$config" <<EOF
REGEDIT4

$(hive_check_settings 2 0 "")

$(hive_account 1 Pop ann "$pop3_port" 0 "$pop3_security")

$(hive_account 2 Imap bob "$imap_port" 1 "$imap_security")
EOF

trust=()
[ "$mode" = tls ] && trust=(-u SSL_CERT_DIR SSL_CERT_FILE="$work/tls/ca.pem")
start_ternbell "$exe" "$config" "${trust[@]}" LANG=C.UTF-8 LC_ALL= LANGUAGE=

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
