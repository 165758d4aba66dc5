#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks what it holds:
# the installed layout under /usr, the autostart entry under /etc, the
# dependencies computed from the binaries, and lintian without errors.
#   package.sh <build folder> <version>
set -u

build=$(cd "$1" && pwd)
version=$2

source "$(dirname "${BASH_SOURCE[0]}")/../support/xsession.sh"
need_tools cpack dpkg-deb dpkg-shlibdeps fakeroot

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb="$work/ternbell_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$work"; fail "no ternbell_${version}_${arch}.deb"; }

dpkg-deb --contents "$deb" | awk '{ print $6 $7 $8 }' | sed 's|^\./|/|' | sort >"$work/contents"
expect=(
    /usr/bin/ternbell'->'../lib/ternbell/ternbell
    /usr/lib/ternbell/ternbell
    /usr/lib/ternbell/notify.wav
    /usr/lib/ternbell/newmsg.ico
    /usr/lib/ternbell/notify.avi
    /usr/share/applications/ternbell.desktop
    /usr/share/metainfo/io.github.ternbell.metainfo.xml
    /usr/share/man/man1/ternbell.1.gz
    /usr/share/icons/hicolor/scalable/apps/ternbell.svg
    /usr/share/icons/hicolor/48x48/apps/ternbell.png
    /usr/share/icons/hicolor/256x256/apps/ternbell.png
    /usr/share/doc/ternbell/copyright
    /usr/share/doc/ternbell/ispdb/LICENSE
    /usr/share/doc/ternbell/changelog.gz
    /etc/xdg/autostart/ternbell.desktop
)
for e in "${expect[@]}"; do
    grep -Fxq -- "$e" "$work/contents" || { cat "$work/contents"; fail "the package lacks $e"; }
done
if [ -d "$build/bin/locale" ]; then
    (cd "$build/bin/locale" && find . -type f | sed 's|^\.|/usr/lib/ternbell/locale|') | while read -r f; do
        grep -Fxq -- "$f" "$work/contents" || fail "the package lacks $f"
    done || exit 1
fi
# Nothing outside the two trees, nothing from the build machine.
if grep -Ev '^/(usr|etc/xdg/autostart)(/|$)|^/etc/(xdg/)?$|^/$' "$work/contents"; then
    fail "the package holds files outside /usr and the autostart folder"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6network6 libqt6multimedia6 libsndfile1 libc6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends does not name $lib"
done
[ "$(dpkg-deb -f "$deb" Package)" = ternbell ] || fail "the package is not named ternbell"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package version is not $version"
dpkg-deb -x "$deb" "$work/x"
file "$work/x/usr/lib/ternbell/ternbell" | grep -q 'not stripped' && fail "the program is not stripped"

if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
    cat "$work/lintian"
    grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
else
    echo "lintian is not installed; its check is skipped"
fi
echo "PASS"
