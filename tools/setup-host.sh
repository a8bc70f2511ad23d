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
  wixl msitools osslsigncode openssl python3-markdown
  nlohmann-json3-dev
  wine64-tools libpcsclite-dev pcscd vsmartcard-vpcd python3-pyscard
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Boost for MinGW is built from Debian's source package, which needs a deb-src
# entry. It is a copy of the machine's own Debian entry (same URIs, suites and
# keyring: apt refuses one source named twice with different Signed-By values),
# so no archive host is written here.
need_update=0
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  entry=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # deb822: the first stanza of type deb that serves the release's own suite.
    entry=$(awk -v suite="$codename" 'BEGIN { RS = ""; FS = "\n" }
      {
        types = 0; suites = 0
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/ && $i ~ /[ \t]deb([ \t]|$)/) types = 1
          if ($i ~ /^Suites:/ && (" " $i " ") ~ ("[ \t]" suite "[ \t]")) suites = 1
        }
        if (types && suites) {
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^Types:/) print "Types: deb-src"
            else if ($i ~ /^Suites:/) print "Suites: " suite
            else if ($i !~ /^#/) print $i
          }
          exit
        }
      }' "$f")
    [ -n "$entry" ] && break
  done
  if [ -n "$entry" ]; then
    printf '%s\n' "$entry" > /etc/apt/sources.list.d/keyhaven-deb-src.sources
  else
    # One-line format: the first "deb" line of the release's own suite.
    line=$(grep -hsE "^deb[[:space:]].*[[:space:]]${codename}[[:space:]]" /etc/apt/sources.list /etc/apt/sources.list.d/*.list | head -n 1 || true)
    if [ -z "$line" ]; then
      echo "no Debian '$codename' entry in /etc/apt to copy for deb-src" >&2
      exit 1
    fi
    printf '%s\n' "deb-src${line#deb}" > /etc/apt/sources.list.d/keyhaven-deb-src.list
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
