#!/usr/bin/env bash
# Unpacks Boost from Debian's boost1.74 source package into build/deps, with
# its headers gathered into one include tree. Boost.Program_options itself is
# compiled by CMake for each build; GoogleTest comes from /usr/src/googletest.
# Safe to run again: a finished tree is left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/deps"
stamp="$deps/boost.done"
[ -f "$stamp" ] && exit 0

rm -rf "$deps/boost-src" "$deps/boost" "$deps/download"
mkdir -p "$deps/download"
(cd "$deps/download" && apt-get source --download-only boost1.74 >/dev/null 2>&1) || {
  echo "apt-get source boost1.74 failed: is a deb-src entry present? (tools/setup-host.sh adds it)" >&2
  exit 1
}
orig=$(ls "$deps"/download/boost1.74_*.orig.tar.xz | head -n 1)
mkdir -p "$deps/boost-src"
tar -xJf "$orig" -C "$deps/boost-src" --strip-components=1

# Boost keeps each library's headers under libs/<name>/include (some nested
# one level deeper); merge them the way "b2 headers" would, with hard links.
mkdir -p "$deps/boost/include"
for inc in "$deps"/boost-src/libs/*/include "$deps"/boost-src/libs/numeric/*/include; do
  [ -d "$inc/boost" ] && cp -al "$inc/boost" "$deps/boost/include/" 2>/dev/null || cp -rl "$inc/boost/." "$deps/boost/include/boost/"
done
rm -rf "$deps/download"
touch "$stamp"
