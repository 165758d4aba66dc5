#!/usr/bin/env bash
# ternbell at rest with three IMAP4 accounts on a private Dovecot, with Push
# on (one IDLE session per account) and with Push off (the accounts polled),
# under a private X server with a tray, at the program's default interval
# (300 s; the fifth argument sets another): a pushed account is looked at on
# its line at that interval, a polled one checked. A run waits for the first
# check to be told (the execute command ran) and for the program's IMAP
# connections to hold still
# (three with Push on, none with it off), lets it settle (40 s from its
# start, at least 5 s after the connections last changed), and then over the
# window counts the wake-ups of all its threads (their voluntary context
# switches from /proc/<pid>/task/*/status, per 30 s: each is a sleep that
# something ended) and reads its resident memory at the end. Involuntary
# switches, a running thread put aside for another (more of them the busier
# the machine), are printed beside them but are not wake-ups. The two kinds run in turn, the order rotating
# each round; the medians are printed beside the goals, and per run which
# threads woke. The default window, 120 s, is the interval at which Dovecot
# tells an idling client it is still there, so each run holds one such
# message per session, wherever the window falls; a window of 600 s holds two
# or three looks per session as well (with an interval of an hour, a whole
# cycle of the sessions' renewal instead).
#   bench/push_rest.sh [rounds] [window seconds] [on] [folders] [interval]   (after a build;
#   3 rounds, 120 s, 300 s; "on": Push on alone, for its wake-ups over more rounds in the same
#   time; "folders": each account watches its inbox and four folders more, heard through NOTIFY
#   on its one pushed line; "-" for either leaves it out)
# TERNBELL_BENCH_PROTOCOL=jmap runs instead one JMAP account (ann's on a
# private Cyrus IMAP, through the tests' push relay, which serves the event
# source the server's own build lacks) beside one IMAP4 account with push
# (ann's on Dovecot), both with Push on: one connection each, the JMAP
# session's wake-ups beside what its ping (every 240 s) asks for, and the
# resident memory of the two side by side. "on" runs the JMAP account alone;
# "folders" does not apply. The relay's connections to Cyrus are its own:
# the program's counted are those to the relay and to Cyrus directly. The
# default window falls between the stream's pings; one of 240 s holds the
# first ping and the look at the interval that it brings.
# TERNBELL_BENCH_FOLLOW=1 attaches a `ternbell --status --follow` reader to
# the instance for the window: a status bar's, which must wake it no more.
# Runs itself in a network namespace with only loopback (scripts/offline.sh),
# so no outside traffic or link change reaches the program while it rests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ -n "${TERNBELL_OFFLINE:-}" ] || exec "$root/scripts/offline.sh" bash "$0" "$@"
build=${TERNBELL_BUILD:-$root/build}
rounds=${1:-3}
window=${2:-120}
only_push=${3:-}
folders=${4:-}
interval=${5:-300}
protocol=${TERNBELL_BENCH_PROTOCOL:-imap4}
exe=$build/bin/ternbell
helper=$build/tests/check_e2e_dovecot
jmap_helper=$build/bench/jmap_push_server
source "$root/tests/support/xsession.sh"
source "$root/tests/support/dovecot_session.sh"
need_tools Xvfb trayer xdotool xdpyinfo python3 ss
[ -x "$exe" ] && [ -x "$helper" ] || fail "build ternbell and check_e2e_dovecot first ($build)"
case $protocol in
imap4) ;;
jmap)
    [ -x "$jmap_helper" ] || fail "build jmap_push_server first ($build)"
    [ "$folders" != folders ] || fail "folders: not with TERNBELL_BENCH_PROTOCOL=jmap"
    ;;
*) fail "TERNBELL_BENCH_PROTOCOL: imap4 or jmap, not $protocol" ;;
esac

open_workspace
failure_logs=("ternbell=$work/ternbell.log")
jmap_pid=""
# Cyrus and the relay behind the helper: told to quit, it stops them (the
# end of its input may not come: whatever started after it holds it open).
stop_jmap() {
    [ -n "$jmap_pid" ] || return 0
    echo quit >&"$jmap_in" 2>/dev/null || true
    exec {jmap_in}>&- 2>/dev/null
    for _ in $(seq 1 300); do
        kill -0 "$jmap_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop "$jmap_pid"
    jmap_pid=""
}
trap 'stop "$app_pid"; app_pid=""; stop_jmap; close_workspace' EXIT
if [ "$protocol" = jmap ]; then
    failure_logs+=("cyrus=$work/jmap.log")
    mkfifo "$work/jmap_in" "$work/jmap_out"
    "$jmap_helper" <"$work/jmap_in" >"$work/jmap_out" 2>"$work/jmap.log" &
    jmap_pid=$!
    exec {jmap_in}>"$work/jmap_in" {jmap_out}<"$work/jmap_out"
    read -r -t 60 -u "$jmap_out" jmap_kind session_url relay_port cyrus_http_port ||
        fail "the Cyrus helper did not answer"
    if [ "$jmap_kind" = unavailable ]; then
        echo "SKIP: Cyrus cannot run here: $session_url $relay_port $cyrus_http_port"
        exit 77
    fi
    [ "$jmap_kind" = jmap ] || fail "Cyrus did not start: $jmap_kind $session_url $relay_port"
    printf 'From: ann@example.org\r\nSubject: waiting for ann\r\n\r\nbody\r\n' >"$work/ann-jmap.eml"
    echo "deliver-to ann $work/ann-jmap.eml" >&"$jmap_in"
    read -r -t 30 -u "$jmap_out" reply || fail "no answer to the delivery"
    [ "$reply" = ok ] || fail "deliver to Cyrus: $reply"
fi
[ "$folders" != folders ] || export TERNBELL_E2E_FOLDERS=1
start_dovecot "$helper" "$work"
require_dovecot
watched=""
if [ "$folders" = folders ]; then
    for user in ann bob; do
        for f in F1 F2 F3 F4; do
            dovecot_ask folder "$user" "$f"
            [ "$dove_reply" = ok ] || fail "folder: $dove_reply"
        done
    done
    watched=$(printf '"INBOX"=dword:00000001\n"F1"=dword:00000001\n"F2"=dword:00000001\n"F3"=dword:00000001\n"F4"=dword:00000001')
fi
# folders_key <n>: the account's Folders sub-key, when folders are watched.
folders_key() {
    [ -z "$watched" ] || printf '\n[HKEY_CURRENT_USER\\Software\\ternbell\\Account%s\\Folders]\n%b\n' "$1" "$watched"
}
dovecot_ask imap
read -r kind imap_port <<<"$dove_reply"
[ "$kind" = imap ] || fail "imap: $dove_reply"
# One message waiting in each inbox, so the first check has something to
# tell. The helper's Dovecot knows two users; the third account is ann's
# mailbox again under another caption, a session of its own.
for user in ann bob; do
    printf 'From: %s@example.org\r\nSubject: waiting for %s\r\n\r\nbody\r\n' "$user" "$user" >"$work/$user.eml"
    deliver_file "$user" "$work/$user.eml"
done
start_xsession "$work"
make_recorder

# settings <accounts>: what both hives below hold of the program's own.
settings() {
    cat <<EOF
[HKEY_CURRENT_USER\\Software\\ternbell]
"EmailClient"=""
"CheckingTime"=dword:$(printf %08x "$interval")
"NotifyOnlyNewMsg"=dword:00000001
"ShowForm"=dword:00000000
"PlaySound"=""
"ScrLckBlinking"=dword:00000000
"ShowIcon"=""
"Execute"="\\"$escaped_record\\" %ACCOUNT%"
"FormAutoHide"=dword:00000000
"FormAnimation"=""
"AccountsNo"=dword:0000000$1
EOF
}
# hive <folder> <push 0|1>: no window, sound, balloon or blinking; the
# recorder tells that the first check is over.
hive() {
    write_hive "$1" <<EOF
REGEDIT4

$(settings 3)

$(hive_account 1 Ann ann "$imap_port" 1 "\"Push\"=dword:0000000$2")
$(folders_key 1)

$(hive_account 2 Bob bob "$imap_port" 1 "\"Push\"=dword:0000000$2")
$(folders_key 2)

$(hive_account 3 "Ann again" ann "$imap_port" 1 "\"Push\"=dword:0000000$2")
$(folders_key 3)
EOF
}
# one_account_hive <folder> <account lines>: the same settings, with one
# account with Push on.
one_account_hive() {
    write_hive "$1" <<EOF
REGEDIT4

$(settings 1)

$2
EOF
}
# Kinds of run: "on"/"off" the three IMAP4 accounts with Push on or off;
# "jmap"/"imap4" one account of either with Push on.
if [ "$protocol" = jmap ]; then
    one_account_hive "$work/jmap" "$(cat <<EOF
[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]
"Caption"="Ann JMAP"
"UserName"="ann"
"UserPassword"="secret"
"HostAddress"="$session_url"
"JMAP"=dword:00000001
"AccountEnabled"=dword:00000001
"Push"=dword:00000001
EOF
)"
    one_account_hive "$work/imap4" "$(hive_account 1 Ann ann "$imap_port" 1 '"Push"=dword:00000001')"
else
    hive "$work/off" 0
    hive "$work/on" 1
fi
mkdir -m 700 "$work/run"

# The program's established connections to the servers it talks to: the
# IMAP port, or for the JMAP account the relay's and Cyrus's own HTTP port.
ports="( dport = :$imap_port )"
connections() {
    ss -tnpH state established "$ports" | grep -c "pid=$app_pid," || true
}
# The first check told every account with mail (two mailboxes for three
# accounts, one for one).
told_lines=2
[ "$protocol" = jmap ] && told_lines=1
told() { [ -f "$work/out" ] && [ "$(wc -l <"$work/out")" -ge "$told_lines" ]; }
# Holds `want` connections for 5 s in a row.
still_at() {
    local want=$1 since=$SECONDS
    while [ $((SECONDS - since)) -lt 5 ]; do
        [ "$(connections)" -eq "$want" ] || return 1
        sleep 0.2
    done
}
# "<tid> <name> <voluntary> <involuntary>" per thread; reading /proc does not
# wake the process.
threads() {
    local task name vol invol
    for task in /proc/"$app_pid"/task/*; do
        name=$(cat "$task/comm" 2>/dev/null) || continue
        vol=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null) || continue
        invol=$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null) || continue
        [ -n "$vol" ] && [ -n "$invol" ] || continue
        echo "${task##*/} ${name// /_} $vol $invol"
    done
}

# measure <round> <kind>: one line to $work/results,
# "<round> <kind> <wake-ups> <involuntary> <seconds> <VmRSS KiB> <Rss KiB> <Pss KiB>
#  <connections at start> <at end> <threads gone> <per-thread deltas>".
measure() {
    local round=$1 push=$2 want=0 start end
    case $push in
    on) want=3 ;;
    jmap | imap4) want=1 ;;
    esac
    ports="( dport = :$imap_port )"
    [ "$push" = jmap ] && ports="( dport = :$relay_port or dport = :$cyrus_http_port )"
    rm -rf "$work/state" "$work/out"
    local config="$work/$push"
    # A runtime folder of its own: another ternbell on a display of the same
    # number would otherwise take this one's start as a request for its
    # settings window.
    local started=$SECONDS
    start_ternbell "$exe" "$config" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 LC_ALL= LANGUAGE=
    wait_for 30 told || fail "the first check was not told (push $push)"
    wait_for 30 still_at "$want" || fail "the connections did not settle at $want (now $(connections))"
    # The toolkit fires a timer of its own once, about 30 s after the start;
    # the window begins after it.
    local rest=$((started + 40))
    [ "$SECONDS" -ge "$rest" ] || sleep $((rest - SECONDS))
    local before_conn after_conn follower=""
    if [ -n "${TERNBELL_BENCH_FOLLOW:-}" ]; then
        env XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$config" "$exe" --status --follow >"$work/follow.out" 2>&1 &
        follower=$!
        wait_for 10 test -s "$work/follow.out" || fail "the status follower printed nothing"
    fi
    before_conn=$(connections)
    threads >"$work/before"
    start=$(date +%s%N)
    sleep "$window"
    threads >"$work/after"
    end=$(date +%s%N)
    local rss rollup pss
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status")
    rollup=$(awk '/^Rss:/ {print $2}' "/proc/$app_pid/smaps_rollup")
    pss=$(awk '/^Pss:/ {print $2}' "/proc/$app_pid/smaps_rollup")
    after_conn=$(connections)
    kill -0 "$app_pid" 2>/dev/null || fail "ternbell ended (push $push)"
    if [ -n "$follower" ]; then
        kill -0 "$follower" 2>/dev/null || fail "the status follower ended: $(cat "$work/follow.out")"
        echo "the status follower printed $(wc -l <"$work/follow.out") line(s) in the window and before it"
        kill "$follower"
        wait "$follower" 2>/dev/null || true
    fi
    [ "$after_conn" -eq "$want" ] || fail "$after_conn connections at the end of the window, expected $want"
    local pid=$app_pid
    stop "$app_pid"
    app_pid=""
    python3 - "$work/before" "$work/after" "$pid" <<PY >>"$work/results"
import sys
def load(path):
    rows = {}
    for line in open(path):
        tid, name, vol, invol = line.split()
        rows[tid] = (name, int(vol), int(invol))
    return rows
before, after, main = load(sys.argv[1]), load(sys.argv[2]), sys.argv[3]
# A thread born in the window counts from 0; one that ended in it cannot be
# read any more and is only counted as gone.
deltas = {tid: v - before.get(tid, (name, 0, 0))[1] for tid, (name, v, i) in after.items()}
preempted = sum(i - before.get(tid, (name, 0, 0))[2] for tid, (name, v, i) in after.items())
gone = sum(1 for tid in before if tid not in after)
parts = []
for tid in sorted(deltas, key=lambda t: (t != main, after[t][0], int(t))):
    label = "main" if tid == main else after[tid][0]
    if tid not in before:
        label += "(new)"
    parts.append(f"{label}={deltas[tid]}")
seconds = ($end - $start) / 1e9
print($round, "$push", sum(deltas.values()), preempted, f"{seconds:.1f}", $rss, $rollup, $pss,
      $before_conn, $after_conn, gone, ",".join(parts))
PY
}

: >"$work/results"
kinds=(on off)
[ "$protocol" = jmap ] && kinds=(jmap imap4)
for ((r = 0; r < rounds; r++)); do
    order=("${kinds[0]}" "${kinds[1]}")
    [ $((r % 2)) -eq 1 ] && order=("${kinds[1]}" "${kinds[0]}")
    [ "$only_push" = on ] && order=("${kinds[0]}")
    for push in "${order[@]}"; do
        measure "$r" "$push"
    done
done

python3 - "$work/results" "$window" "$interval" "$protocol" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
jmap = sys.argv[4] == "jmap"
names = {"on": "Push on (3 IDLE)", "off": "Push off (polled)",
         "jmap": "JMAP (event source)", "imap4": "IMAP4 (IDLE)"}
first, second = ("jmap", "imap4") if jmap else ("on", "off")
runs = {first: [], second: []}
for r, push, wakes, invol, secs, rss, rollup, pss, c0, c1, gone, parts in rows:
    runs[push].append(dict(round=int(r), per30=int(wakes) * 30 / float(secs), wakes=int(wakes), invol=int(invol),
                           secs=float(secs), rss=int(rss), rollup=int(rollup), pss=int(pss),
                           conns=f"{c0}->{c1}", gone=int(gone), parts=parts))
if jmap:
    print(f"one account with Push on: JMAP on a private Cyrus through the push relay, or IMAP4 on a private "
          f"Dovecot; interval {sys.argv[3]} s, window {sys.argv[2]} s at rest, {len(runs[first])} rounds")
    print("per run: wake-ups in the window (per 30 s), involuntary switches, VmRSS / Rss / Pss KiB at "
          "its end, connections to the relay and Cyrus (JMAP) or the IMAP port at its start->end, threads "
          "that ended in it; wake-ups per thread")
else:
    print(f"3 IMAP4 accounts on a private Dovecot, interval {sys.argv[3]} s, window {sys.argv[2]} s at rest, "
          f"{len(runs[first])} rounds")
    print("per run: wake-ups in the window (per 30 s), involuntary switches, VmRSS / Rss / Pss KiB at "
          "its end, IMAP connections at its start->end, threads that ended in it; wake-ups per thread")
for push in (first, second):
    for run in sorted(runs[push], key=lambda v: v["round"]):
        print(f"  {names[push]:19s} round {run['round']}: {run['wakes']:4d} in {run['secs']:.0f} s "
              f"({run['per30']:5.2f}/30 s)  invol {run['invol']}  {run['rss']} / {run['rollup']} / {run['pss']} KiB  "
              f"conns {run['conns']}  gone {run['gone']}")
        print(f"      {run['parts']}")
kinds = [p for p in (first, second) if runs[p]]
med = {p: {k: statistics.median(v[k] for v in runs[p]) for k in ("per30", "rss", "rollup", "pss")}
       for p in kinds}
for push in kinds:
    m = med[push]
    print(f"{names[push]:19s} median: wake-ups {m['per30']:5.2f} per 30 s   VmRSS {m['rss'] / 1024:6.2f} MiB"
          f"   Rss {m['rollup'] / 1024:6.2f} MiB   Pss {m['pss'] / 1024:6.2f} MiB")
other = f"{med[second]['per30']:.2f}" if second in med else "not run"
print(f"wake-ups at rest, {names[first]}: {med[first]['per30']:.2f} per 30 s   ({names[second]}: {other})")
# The session threads bear the name of the process; beside the floor that
# the server's lines set (Dovecot's keep-alive, one per session every 120 s;
# the JMAP stream's ping every 240 s), what they add is their renewals and
# looks.
def sessions(run):
    woke = sum(int(part.split("=")[1]) for part in run["parts"].split(",") if part.split("=")[0] == "ternbell")
    return woke * 30 / run["secs"]
for push in kinds:
    floor = 30 / 240 if push == "jmap" else 30 / 120 if push == "imap4" else 3 * 30 / 120 if push == "on" else 0
    if push == "off":
        continue
    print(f"the sessions' threads, {names[push]}: {statistics.median(sessions(v) for v in runs[push]):.2f} per 30 s"
          f"   the server's lines ask for {floor:.3f}; above it, renewals and looks")
pairs = {}
for push in (first, second):
    for run in runs[push]:
        pairs.setdefault(run["round"], {})[push] = run["rss"]
diffs = [p[first] - p[second] for p in pairs.values() if first in p and second in p]
if diffs:
    diff = statistics.median(diffs)
    if jmap:
        mem_goal = 512
        met = abs(diff) <= mem_goal
        goal = "goal within 0.5 MiB of IMAP4's"
    else:
        mem_goal = 2 * 1024
        met = diff <= mem_goal
        goal = "goal <= +2 MiB"
    print(f"resident memory, {names[first]} - {names[second]} (VmRSS, median of {len(diffs)} per-round "
          f"differences): {diff / 1024:+.2f} MiB   {goal}   {'met' if met else 'NOT met'}"
          f"   (difference of the medians {(med[first]['rss'] - med[second]['rss']) / 1024:+.2f} MiB)")
PY
