#!/usr/bin/env bash
# Prepares a Debian 12 machine (as root) to build Keyhaven with MinGW-w64 and
# run it under Wine. Safe to run again: every step checks whether it is done.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 cmake ninja-build make python3
  googletest
  xvfb x11-utils xdotool imagemagick x11-apps
  locales faketime
  clang libclang-rt-14-dev libboost-program-options-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Boost for MinGW is built from Debian's source package, which needs a deb-src entry.
need_update=0
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  # Match the keyring of the existing Debian entry: apt refuses one source
  # named twice with different Signed-By values.
  debian_sources=$(grep -lsE '^URIs:.*deb\.debian\.org/debian/?$' /etc/apt/sources.list.d/*.sources | head -n 1 || true)
  if [ -n "$debian_sources" ]; then
    signed_by=$(grep -m1 '^Signed-By:' "$debian_sources" || true)
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\n%s\n' \
      "$signed_by" > /etc/apt/sources.list.d/keyhaven-deb-src.sources
  else
    echo "deb-src http://deb.debian.org/debian bookworm main" > /etc/apt/sources.list.d/keyhaven-deb-src.list
  fi
  need_update=1
fi

if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: ru_RU.UTF-8 gives 1251.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
