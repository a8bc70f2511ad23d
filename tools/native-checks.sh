#!/usr/bin/env bash
# The native run of the platform-free logic: builds it with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, runs its unit tests and the
# replay of every stored fuzz input, then fuzzes each target for SECONDS
# (default 30). Needs what tools/setup-host.sh installs.
#   tools/native-checks.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

tools/fetch-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
tools/run-fuzzers.sh "${1:-30}"
