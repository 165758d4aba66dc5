#!/usr/bin/env bash
# Installs the Debian packages ternbell needs to build, test and run, when
# any is missing, then configures and builds into ./build.
# Sourced by run.sh and test.sh; safe to run again.
set -euo pipefail

TERNBELL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# TERNBELL_SANITIZE=ON (address and undefined) or thread picks a sanitizer
# build in a tree of its own, so it never reconfigures ./build.
case "${TERNBELL_SANITIZE:-}" in
  "") ;;
  thread) TERNBELL_BUILD=${TERNBELL_BUILD:-$TERNBELL_ROOT/build-tsan} ;;
  *) TERNBELL_BUILD=${TERNBELL_BUILD:-$TERNBELL_ROOT/build-sanitize} ;;
esac
TERNBELL_BUILD=${TERNBELL_BUILD:-$TERNBELL_ROOT/build}

TERNBELL_PACKAGES=(
  # toolchain (Python also makes HTML's table of character references)
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev ccache python3
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
  libsndfile1-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libx11-dev libssl-dev gettext qt6-translations-l10n libsecret-1-dev
  libgmime-3.0-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev python3
  # quiet hours are tested in a zone with summer time
  tzdata
  dovecot-pop3d dovecot-imapd
  # a second IMAP4 server, whose IDLE says nothing until it ends, and the
  # packet filter that makes a link drop what crosses it
  mailutils-imap4d nftables
  # the test authorization server (tests/support/oauth) runs on Node.js
  nodejs
  # a DNS server for the private network of the lookup tests, and the tool
  # that makes the hashed names of its trust store
  dnsmasq-base openssl
  # a private session bus with a keyring of its own
  dbus-daemon dbus-bin gnome-keyring libsecret-tools
  # a notification server that can be driven from a script, and a headless
  # Wayland compositor with the toolkit's Wayland platform
  dunst weston qt6-wayland
  # a dock that shows counts on its launchers
  plank
  # the desktops' do-not-disturb switches: xfce4-notifyd's in xfconf
  # (xfconfd, xfconf-query), GNOME's in a private dconf (dconf-service,
  # gsettings from libglib2.0-bin), and a notification server offering
  # "Inhibited" played by python-dbusmock; GIO's headers
  xfconf libxfconf-0-3 dconf-service dconf-cli libglib2.0-bin gsettings-desktop-schemas python3-dbusmock libglib2.0-dev
  xvfb xauth trayer imagemagick x11-xserver-utils x11-utils xdotool
  pulseaudio pulseaudio-utils iproute2 util-linux
  # locales for the text tests (ternbell_install_locales)
  locales
  # installing and packaging, and their checks
  desktop-file-utils appstream man-db lintian dpkg-dev fakeroot file strace
)

ternbell_install_packages() {
  local missing=()
  for p in "${TERNBELL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "ternbell: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  # The Debian packages start a system-wide Dovecot and imap4d; the tests
  # run their own.
  local service
  for service in dovecot mailutils-imap4d; do
    if command -v systemctl >/dev/null && systemctl is-active --quiet "$service" 2>/dev/null; then
      "${sudo[@]}" systemctl disable --now "$service" || true
    fi
  done
}

# The JMAP tests' server: Cyrus IMAP, unpacked under $TERNBELL_BUILD/cyrus/root
# rather than installed, since its packages conflict with Dovecot's. The
# libraries it links that are not on the machine are unpacked beside it (the
# fixture puts them on LD_LIBRARY_PATH); sasl2-bin only for saslpasswd2, as
# its package would also install saslauthd's service. Nothing is configured
# and no maintainer script runs: the tests write their own configuration.
TERNBELL_CYRUS_PACKAGES=(cyrus-common cyrus-imapd cyrus-caldav sasl2-bin)

ternbell_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The library packages (lib*, not Perl's) the named packages depend on, and
# theirs in turn, that are not installed. Libraries only: following every
# dependency would reach mail transport agents and init systems.
ternbell_missing_libraries() {
  local todo=("$@") seen=" " p dep
  while [ ${#todo[@]} -gt 0 ]; do
    p=${todo[0]}
    todo=("${todo[@]:1}")
    while read -r dep; do
      case "$seen" in *" $dep "*) continue ;; esac
      seen+="$dep "
      ternbell_installed "$dep" && continue
      echo "$dep"
      todo+=("$dep")
    done < <(apt-cache depends -i "$p" | sed -n -E 's/^ +\|?(Pre)?Depends: (lib[^ <>]+)$/\2/p' | grep -v -- '-perl$')
  done
}

ternbell_fetch_cyrus() {
  local dest=$TERNBELL_BUILD/cyrus
  [ -f "$dest/.complete" ] && return 0
  echo "ternbell: unpacking Cyrus IMAP into $dest"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  local packages=("${TERNBELL_CYRUS_PACKAGES[@]}")
  if ! apt-cache show "${packages[@]}" >/dev/null 2>&1; then
    "${sudo[@]}" apt-get update
  fi
  mapfile -t -O ${#packages[@]} packages < <(ternbell_missing_libraries "${packages[@]}")
  local tmp
  tmp=$(mktemp -d)
  # Lists older than the mirror name versions it no longer has: refresh once.
  if ! (cd "$tmp" && "${sudo[@]}" apt-get download "${packages[@]}"); then
    "${sudo[@]}" apt-get update
    (cd "$tmp" && "${sudo[@]}" apt-get download "${packages[@]}") || { "${sudo[@]}" rm -rf "$tmp"; return 1; }
  fi
  # A half-unpacked tree from an interrupted run is replaced whole.
  rm -rf "$dest/root"
  mkdir -p "$dest/root"
  local deb
  for deb in "$tmp"/*.deb; do
    dpkg-deb -x "$deb" "$dest/root"
  done
  "${sudo[@]}" rm -rf "$tmp"
  printf '%s\n' "${packages[@]}" >"$dest/.complete"
}

# The locales the text tests run under besides C.UTF-8: a German desktop in
# UTF-8 and two legacy ones. A fresh machine has none of them.
TERNBELL_LOCALES=(de_DE:UTF-8 de_DE:ISO-8859-1 ru_RU:KOI8-R)

ternbell_install_locales() {
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  local entry input charmap
  for entry in "${TERNBELL_LOCALES[@]}"; do
    input=${entry%%:*}
    charmap=${entry#*:}
    [ "$(LC_ALL="$input.$charmap" locale charmap 2>/dev/null)" = "$charmap" ] && continue
    echo "ternbell: generating the locale $input.$charmap"
    "${sudo[@]}" localedef -i "$input" -f "$charmap" "$input.$charmap"
  done
}

# The test authorization server's npm packages, as pinned by its lock file.
ternbell_install_npm() {
  local dir=$TERNBELL_ROOT/tests/support/oauth
  if ! command -v npm >/dev/null; then
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends npm
  fi
  [ -f "$dir/node_modules/.package-lock.json" ] && ! [ "$dir/package-lock.json" -nt "$dir/node_modules/.package-lock.json" ] && return 0
  echo "ternbell: installing the test authorization server's packages"
  npm ci --prefix "$dir" --no-audit --no-fund
}

ternbell_build() {
  # clang builds everything, so the libFuzzer targets live in the same tree.
  local launcher=()
  # A compiler cache, where there is one, makes a second build tree cheap.
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$TERNBELL_ROOT" -B "$TERNBELL_BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE="${TERNBELL_BUILD_TYPE:-RelWithDebInfo}" "${launcher[@]}" \
    ${TERNBELL_SANITIZE:+-DTERNBELL_SANITIZE="$TERNBELL_SANITIZE"} ${TERNBELL_CMAKE_ARGS:-}
  cmake --build "$TERNBELL_BUILD" -j "$(nproc)"
}

ternbell_install_packages
ternbell_fetch_cyrus
ternbell_install_locales
ternbell_install_npm
ternbell_build
