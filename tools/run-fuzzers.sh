#!/usr/bin/env bash
# Builds the native preset and fuzzes each target of fuzz/ for SECONDS
# (default 30), starting from its seeds (fuzz/corpus/<target>) and the
# inputs of earlier findings (fuzz/regressions/<target>). What the fuzzers
# learn stays in build/native/fuzz-work; the run fails if any target crashes,
# leaks, hangs or breaks one of its properties, and names the input it left
# in build/native/fuzz-findings.
#   tools/run-fuzzers.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
cd "$root"

tools/fetch-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native

build="$root/build/native"
work="$build/fuzz-work"
findings="$build/fuzz-findings"
logs="$build/fuzz-logs"
mkdir -p "$work" "$findings" "$logs"

failed=()
for fuzzer in "$build"/fuzz/*_fuzzer; do
  target=$(basename "$fuzzer" _fuzzer)
  inputs=("$work/$target" "$root/fuzz/corpus/$target")
  [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")
  mkdir -p "$work/$target"
  log="$logs/$target.log"
  start=$(date +%s)
  # A hang of 10 s is a finding; the first directory takes what the run learns.
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$findings/$target-" "${inputs[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: clean, ${runs:-?} inputs in $(( $(date +%s) - start )) s"
  else
    echo "$target: FAILED after $(( $(date +%s) - start )) s (whole log: $log)"
    grep -E 'ERROR|SUMMARY|property failed|runtime error|Test unit written' "$log" | head -n 20 | sed 's/^/  /'
    failed+=("$target")
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "findings in: ${failed[*]}. Fix the product, then keep each input as fuzz/regressions/<target>/<what it shows>." >&2
  exit 1
fi
