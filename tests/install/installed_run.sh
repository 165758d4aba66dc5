#!/usr/bin/env bash
# The installed program, moved away from where it was installed, under a
# private X server with a tray and a fresh configuration folder: it reaches its
# first-start state (the settings window, the default hive) with its default
# files and catalogs taken from the installed tree, opens nothing in the build
# or source tree, and writes nothing into the installed tree.
#   installed_run.sh <build folder> <source folder> <artefact folder>
# KEEP=1 keeps the work folder (the trace, the logs) for a look afterwards.
set -u

build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
artefacts=$3
mkdir -p "$artefacts"

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools Xvfb trayer xdotool import xdpyinfo strace

work=$(mktemp -d)
app_pid=""
cleanup() {
    stop "$app_pid"
    stop_xsession
    [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
failure_shot="$artefacts/installed_run_failure.png"
failure_logs=("ternbell=$work/ternbell.log")

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
# Moved as a whole: the program must find its files through its own path.
mv "$work/prefix" "$work/moved"
top="$work/moved"
lib="$top/lib/ternbell"
before=$(cd "$top" && find . -printf '%p %s %T@\n' | sort)

# The language whose catalog is looked up: one the build made, if any.
lang=de
if [ -d "$build/bin/locale" ]; then
    first=$(find "$build/bin/locale" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort | head -n1)
    [ -n "$first" ] && lang=$first
fi

start_xsession "$work"
config="$work/config"
mkdir -p "$config" "$work/empty" "$work/run"
chmod 700 "$work/run"
cd "$work"
env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$config" XDG_STATE_HOME="$config/state" \
    XDG_DATA_HOME="$work/empty" XDG_DATA_DIRS="$work/empty" XDG_CONFIG_DIRS="$work/empty" \
    XDG_RUNTIME_DIR="$work/run" LC_ALL=C.UTF-8 LANG="$lang.UTF-8" LANGUAGE="$lang" \
    strace -f -qq -e trace=open,openat,execve,stat,newfstatat,access,readlink -o "$work/trace" \
    "$top/bin/ternbell" >"$work/ternbell.log" 2>&1 &
app_pid=$!

hive="$config/ternbell/user.reg"
defaults_installed() {
    [ -f "$hive" ] &&
        grep -Fxq "\"PlaySound\"=\"$lib/notify.wav\"" "$hive" &&
        grep -Fxq "\"ShowIcon\"=\"$lib/newmsg.ico\"" "$hive" &&
        grep -Fxq "\"FormAnimation\"=\"$lib/notify.avi\"" "$hive"
}
if ! wait_for 15 defaults_installed; then
    cat "$hive" 2>/dev/null
    fail "the hive does not name the installed default files"
fi
# In the catalog's language when one is installed (German: "ternbell-Einstellungen").
wait_for 10 xdotool search --onlyvisible --name '^ternbell[ -]' >/dev/null ||
    fail "the settings window is not on screen"
sleep 0.5
import -window root "$artefacts/installed_first_start.png"
# The tray icon is the program's window titled just "ternbell".
tray_icon() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^ternbell$' 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = ternbell ] && return 0
    done
    return 1
}
wait_for 5 tray_icon || fail "no tray icon"
stop "$app_pid"
app_pid=""

# The catalog was looked for in the installed tree.
grep -Eq "\"$lib/locale/$lang[^\"]*/LC_MESSAGES/ternbell\.mo\"" "$work/trace" ||
    { grep -F '.mo"' "$work/trace" | head; fail "no catalog was looked up in $lib/locale"; }
# Nothing of the build or the sources was touched.
if grep -F -e "\"$build/" -e "\"$source_dir/" "$work/trace" >"$work/strays"; then
    head "$work/strays"
    fail "the installed program opened files in the build or source tree"
fi
after=$(cd "$top" && find . -printf '%p %s %T@\n' | sort)
[ "$before" = "$after" ] || { diff <(echo "$before") <(echo "$after"); fail "the installed tree changed"; }
echo "PASS"
