#!/usr/bin/env bash
# Prints the benchmark figures of a build. Every benchmark runs; the exit
# code is 0 when each printed its figures, 1 when one could not.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
failed=()
bench() {
  local rc=0
  "$@" || rc=$?
  if [ "$rc" -ne 0 ]; then failed+=("$(basename "$1") (exit $rc)"); fi
}
bench "$top/$build/bench/xml_validate_bench" "$top/$build/bin/KVXRemoteCmd.xsd" "$top/$build/bin/QZRRemote"
bench "$top/$build/bench/account_ini_bench"
bench "$top/$build/bench/copy_bench"
bench "$top/$build/bench/emulator_roundtrip_bench" "$top/$build/tools/kvxemu"
# The copies above leave a gigabyte on its way to the disk: the full run's
# flushes would wait behind it, and its figures would be the copy's.
sync
bench "$top/scripts/full_run_bench.sh" "$build"
if [ ${#failed[@]} -gt 0 ]; then
  echo "figures missing: ${failed[*]}" >&2
  exit 1
fi
