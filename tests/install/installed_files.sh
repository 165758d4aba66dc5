#!/usr/bin/env bash
# cmake --install into a temporary prefix (through DESTDIR, as a package
# build does): the layout, the program's answers to --version and --help, and
# the desktop files checked by the desktop's own validators.
#   installed_files.sh <build folder> <source folder> <version>
set -u

build=$1
source_dir=$2
version=$3

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools desktop-file-validate appstreamcli man

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A prefix that is no system one, so nothing can be found by accident.
prefix=/opt/ternbell-test
root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
top="$root$prefix"
lib="$top/lib/ternbell"

for f in lib/ternbell/ternbell lib/ternbell/notify.wav lib/ternbell/newmsg.ico \
    lib/ternbell/notify.avi share/applications/ternbell.desktop \
    share/metainfo/io.github.ternbell.metainfo.xml share/man/man1/ternbell.1.gz \
    share/icons/hicolor/scalable/apps/ternbell.svg etc/xdg/autostart/ternbell.desktop \
    share/doc/ternbell/copyright share/doc/ternbell/ispdb/LICENSE share/doc/ternbell/ispdb/README.md; do
    [ -f "$top/$f" ] || fail "not installed: $f"
done
for size in 16 24 32 48 64 128 256; do
    png="$top/share/icons/hicolor/${size}x${size}/apps/ternbell.png"
    [ -f "$png" ] || fail "no ${size}x${size} icon"
    [ "$(identify -format '%wx%h' "$png" 2>/dev/null || echo "${size}x${size}")" = "${size}x${size}" ] ||
        fail "the ${size}x${size} icon is $(identify -format '%wx%h' "$png")"
done
[ -x "$lib/ternbell" ] || fail "the program is not executable"

# bin/ternbell is a relative link, so the tree works wherever it lies.
link=$(readlink "$top/bin/ternbell") || fail "bin/ternbell is not a symbolic link"
[ "$link" = ../lib/ternbell/ternbell ] || fail "bin/ternbell points at $link"

# The catalogs the build made are all there, and nothing else.
if [ -d "$build/bin/locale" ]; then
    diff <(cd "$build/bin/locale" && find . -type f | sort) <(cd "$lib/locale" && find . -type f | sort) ||
        fail "the installed catalogs differ from the built ones"
fi

# The two answers come without a display and without touching the hive.
config="$work/config"
mkdir -p "$config"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$config" "$top/bin/ternbell" --version 2>&1) ||
    fail "--version failed: $out"
[ "$(head -n 1 <<<"$out")" = "ternbell $version" ] || fail "--version says '$out', the build is $version"
grep -q 'GPL-3.0-or-later' <<<"$out" || fail "--version does not name the licence: $out"
help=$(env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$config" "$top/bin/ternbell" --help 2>&1) ||
    fail "--help failed: $help"
[[ "$help" == "Usage: ternbell "* ]] || fail "--help says: $help"
[ "$(echo "$help" | wc -l)" -le 5 ] || fail "--help is not short"
[ -z "$(ls -A "$config")" ] || fail "--version or --help wrote into the configuration folder"

# The desktop's validators.
for entry in share/applications/ternbell.desktop etc/xdg/autostart/ternbell.desktop; do
    desktop-file-validate "$top/$entry" || fail "desktop-file-validate rejects $entry"
done
grep -qx 'Categories=Network;Email;' "$top/share/applications/ternbell.desktop" ||
    fail "the menu entry is not in Network;Email;"
grep -qx 'Exec=ternbell' "$top/share/applications/ternbell.desktop" || fail "the entry does not start ternbell"
# Each language whose catalog source translates the entry's comment shows it.
comment=$(sed -n 's/^Comment=//p' "$source_dir/data/ternbell.desktop.in")
for po in "$source_dir"/po/*.po; do
    [ -f "$po" ] || continue
    lang=$(basename "$po" .po)
    translated=$(msgattrib --translated --no-fuzzy "$po" 2>/dev/null |
        msggrep -K -F -e "$comment" 2>/dev/null | msgexec sh -c '[ -z "$MSGEXEC_MSGID" ] || cat' 2>/dev/null | tr -d '\0')
    if [ -n "$translated" ]; then
        grep -Fxq "Comment[$lang]=$translated" "$top/share/applications/ternbell.desktop" ||
            fail "the menu entry lacks the $lang comment '$translated'"
    fi
done
appstreamcli validate --no-net "$top/share/metainfo/io.github.ternbell.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
grep -q "<project_license>GPL-3.0-or-later</project_license>" "$top/share/metainfo/io.github.ternbell.metainfo.xml" ||
    fail "the metainfo does not name the program's licence"
# The copyright in Debian's machine-readable form: the program's licence, and
# the provider table's beside it.
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$top/share/doc/ternbell/copyright" &&
    grep -q '^License: GPL-3+' "$top/share/doc/ternbell/copyright" &&
    grep -q '^License: MPL-2.0' "$top/share/doc/ternbell/copyright" ||
    fail "the copyright does not name both licences"
grep -q "<release version=\"$version\"" "$top/share/metainfo/io.github.ternbell.metainfo.xml" ||
    fail "the metainfo does not name version $version"
# The man page is well formed and names the hive file.
page=$(MANWIDTH=80 man --warnings -l "$top/share/man/man1/ternbell.1.gz" 2>"$work/man.err") ||
    fail "man cannot format the page"
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "the man page has formatting warnings"; }
grep -q 'ternbell/user.reg' <<<"$page" || fail "the man page does not name the hive file"
echo "PASS"
