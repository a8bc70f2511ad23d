#!/usr/bin/env bash
# Keyhaven's two entry points on a Debian 12 machine (run as root):
#   ./dev.sh demo   set everything up, build, and show the agent's main job on a workstation
#   ./dev.sh test   set everything up, build, and run every test
# Each run repeats only the set-up steps that are not done yet.
set -euo pipefail
cd "$(dirname "$0")"

setup() {
  tools/setup-host.sh
  tools/fetch-deps.sh
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw
}

case "${1:-}" in
  demo)
    setup
    python3 bench/main-job
    ;;
  test)
    setup
    ctest --preset mingw
    # The platform-free logic natively under the sanitizers, and its fuzzers.
    tools/native-checks.sh 30
    ;;
  *)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
