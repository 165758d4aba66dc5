#!/usr/bin/env bash
# Start-up and memory of ternbell beside the least Qt 6 tray program, under a
# private X server with a tray: the time from start until the tray icon is
# docked, the resident memory after it has rested (3 s) and the shared
# objects it maps then. ternbell runs twice: without a session bus and with
# no account, and on a private bus whose keyring holds the password of one
# account, which the first check (a second after the start) reads, so the
# keyring's client is loaded. Then after a check with previews shown: ternbell
# checks a private Dovecot holding 50 new messages (newsletters, some behind a
# long style sheet, replies, plain text), shows them in its notification
# window and makes the previews it shows, beside the reference showing a
# list of 50 rows, and ternbell once more with previews off. The programs run
# in turn, the order rotating each round; the medians of each and the medians
# of the per-round ratios are printed (a round's ratio is taken under the
# same load on the machine).
#   bench/startup_memory.sh [rounds]      (after a build; default 9 rounds)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNBELL_BUILD:-$root/build}
rounds=${1:-9}
source "$root/tests/support/xsession.sh"
source "$root/tests/support/dovecot_session.sh"
need_tools Xvfb trayer xdotool xwininfo xdpyinfo python3 dbus-daemon gnome-keyring-daemon secret-tool

work=$(mktemp -d /tmp/ternbell-startup-XXXXXX)
bus_pid="" keyring_pid=""
trap 'stop "$keyring_pid"; stop "$bus_pid"; stop_dovecot; stop_xsession; rm -rf "$work"' EXIT
start_xsession "$work"
tray=$(xdotool search --onlyvisible --class trayer | head -n1)

# A hive with no account: the program rests in the tray, the settings window
# created but not shown.
mkdir -p "$work/config/ternbell"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000000\n' \
    >"$work/config/ternbell/user.reg"

# A private session bus (nothing on it starts by itself) with an unlocked
# keyring of its own holding ann's password; her server's port on 127.0.0.1
# is closed, so her check fails at once.
keyring=$work/keyring
mkdir -p -m 700 "$keyring" "$keyring/run"
bus="unix:path=$keyring/bus"
printf '<busconfig><type>session</type><listen>%s</listen><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n' \
    "$bus" >"$keyring/bus.conf"
dbus-daemon --nofork --config-file="$keyring/bus.conf" 2>/dev/null &
bus_pid=$!
wait_for 10 test -S "$keyring/bus" || fail "the private bus did not start"
printf 'bench' | env DBUS_SESSION_BUS_ADDRESS="$bus" HOME="$keyring" XDG_DATA_HOME="$keyring/data" \
    XDG_RUNTIME_DIR="$keyring/run" gnome-keyring-daemon --foreground --components=secrets --unlock \
    --control-directory="$keyring/run/keyring" >/dev/null 2>&1 &
keyring_pid=$!
stored() {
    printf 'pw' | DBUS_SESSION_BUS_ADDRESS="$bus" secret-tool store --label='ternbell: ann on 127.0.0.1' \
        xdg:schema org.ternbell.Password protocol pop3 host 127.0.0.1 port 9 user ann 2>/dev/null
}
wait_for 10 stored || fail "the keyring does not keep a password"
mkdir -p "$work/keyed/ternbell"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000001\n"PlaySound"=""\n"ShowForm"=dword:00000000\n\n[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]\n"UserName"="ann"\n"UserPassword"=""\n"HostAddress"="127.0.0.1"\n"HostPort"="9"\n' \
    >"$work/keyed/ternbell/user.reg"
printf '#!/bin/sh\nexec env DBUS_SESSION_BUS_ADDRESS="%s" XDG_CONFIG_HOME="%s" "%s"\n' \
    "$bus" "$work/keyed" "$build/bin/ternbell" >"$work/ternbell-keyring"
chmod 755 "$work/ternbell-keyring"

# The private Dovecot and its 50 messages for ann.
start_dovecot "$build/tests/check_e2e_dovecot" "$work"
require_dovecot
mkdir -p "$work/mail"
python3 - "$work/mail" <<'PY'
import sys
folder = sys.argv[1]
style = "".join(".c%d td { padding: 0 8px; color: #333333; }\r\n" % i for i in range(200))
for n in range(50):
    head = ("From: Sender %d <sender%d@example.org>\r\nTo: ann@example.org\r\nSubject: Report %d of the week\r\n"
            "Message-ID: <%d.memory@example.org>\r\nMIME-Version: 1.0\r\n" % (n, n, n, n))
    if n % 3 == 0:
        body = ("Content-Type: text/html; charset=utf-8\r\n\r\n<html><head><style>\r\n" + style +
                "</style></head><body><p>&iexcl;Hola Mar&iacute;a! Tu pedido est&aacute; en camino.</p></body></html>\r\n")
    elif n % 3 == 1:
        body = ("Content-Type: text/plain; charset=utf-8; format=flowed; delsp=yes\r\n\r\n"
                "Thank you for the figures, they are wra \r\npped up for Monday.\r\n")
    else:
        body = "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nGr\xfc\xdfe aus K\xf6ln\r\n"
    with open("%s/%02d.eml" % (folder, n), "wb") as out:
        out.write((head + body).encode("latin-1"))
PY
for file in "$work"/mail/*.eml; do
    deliver_file - "$file"
done
# ann's account with the window shown and no sound; each start has a state
# folder of its own, so the 50 messages are new to it and told.
hive_of_check() {
    mkdir -p "$work/$1/ternbell"
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"AccountsNo"=dword:00000001\n"PlaySound"=""\n"ShowForm"=dword:00000001\n"FormAutoHide"=dword:00000000\n"FormAnimation"=""\n"ShowPreview"=dword:0000000%s\n\n[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]\n"UserName"="ann"\n"UserPassword"="secret"\n"HostAddress"="127.0.0.1"\n"HostPort"="%s"\n' \
        "$2" "$dove_args" >"$work/$1/ternbell/user.reg"
    printf '#!/bin/sh\nrm -rf "%s"\nexec env XDG_STATE_HOME="%s" XDG_CONFIG_HOME="%s" "%s"\n' \
        "$work/$1-state" "$work/$1-state" "$work/$1" "$build/bin/ternbell" >"$work/ternbell-$1"
    chmod 755 "$work/ternbell-$1"
}
hive_of_check previews 1
hive_of_check plain 0
printf '#!/bin/sh\nexec "%s" --list 50\n' "$build/bench/tray_reference" >"$work/tray-list"
chmod 755 "$work/tray-list"

docked() { [ "$(xwininfo -children -id "$tray" | grep -c '^ *0x')" -gt "$1" ]; }

# Prints "<ms to dock> <resident KiB> <shared objects>" for one start of the
# program; with a window title before it, the rest starts once that window
# is on screen.
measure() {
    local before start pid ms rss libs window=
    case "$1" in --window=*) window=${1#--window=}; shift ;; esac
    before=$(xwininfo -children -id "$tray" | grep -c '^ *0x' || true)
    start=$(date +%s%N)
    env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" "$@" \
        >/dev/null 2>&1 &
    pid=$!
    local deadline=$((SECONDS + 20))
    until docked "$before"; do
        [ $SECONDS -lt $deadline ] || { stop "$pid"; fail "$1 did not dock in 20 s"; }
        sleep 0.005
    done
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ -n "$window" ] && ! wait_for 20 xdotool search --onlyvisible --pid "$pid" --name "^$window\$" >/dev/null; then
        stop "$pid"
        fail "$1 showed no window \"$window\" in 20 s"
    fi
    sleep 3
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    libs=$(grep -o '/[^ ]*\.so[^ ]*$' "/proc/$pid/maps" | sort -u | wc -l)
    stop "$pid"
    echo "$ms $rss $libs"
}

# Each program, and the window the checking ones are measured after.
told="--window=You have got a mail!"
programs=("$build/bench/tray_reference" "$build/bin/ternbell" "$work/ternbell-keyring" "$work/tray-list"
          "$work/ternbell-previews" "$work/ternbell-plain")
windows=("" "" "" "" "$told" "$told")
: >"$work/results"
for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#programs[@]}; i++)); do
        k=$(( (i + r) % ${#programs[@]} ))
        echo "$r $k $(measure ${windows[$k]:+"${windows[$k]}"} "${programs[$k]}")" >>"$work/results"
    done
done

python3 - "$work/results" <<'PY'
import statistics, sys
rows = []
for line in open(sys.argv[1]):
    # A start that failed under load (no dock, no window) is told, not counted.
    try:
        rows.append(list(map(int, line.split())))
    except ValueError:
        print("left out:", line.strip())
names = {0: "minimal Qt tray program", 1: "ternbell", 2: "ternbell, keyring read",
         3: "Qt tray program, 50 rows", 4: "ternbell, 50 told, previews", 5: "ternbell, 50 told, no previews"}
by = {k: [] for k in names}
rounds = {}
for r, k, ms, rss, libs in rows:
    by[k].append((ms, rss, libs))
    rounds.setdefault(r, {})[k] = (ms, rss)
for k in names:
    ms = statistics.median(v[0] for v in by[k])
    rss = statistics.median(v[1] for v in by[k])
    libs = statistics.median(v[2] for v in by[k])
    print(f"{names[k]:26s} start to docked {ms:7.0f} ms   resident {rss / 1024:6.1f} MB   {libs:3.0f} shared objects")
for k, ref in ((1, 0), (2, 0), (4, 3), (5, 3)):
    pairs = [v for v in rounds.values() if ref in v and k in v]
    start = statistics.median(v[k][0] / v[ref][0] for v in pairs)
    memory = statistics.median(v[k][1] / v[ref][1] for v in pairs)
    print(f"{names[k]} / {names[ref]} (median of {len(pairs)} rounds): start {start:.2f} x, memory {memory:.2f} x")
PY
