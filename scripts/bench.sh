#!/usr/bin/env bash
# Prints the benchmark figures of a build.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/$build/bench/xml_validate_bench" "$top/$build/bin/KVXRemoteCmd.xsd" "$top/$build/bin/QZRRemote"
"$top/$build/bench/account_ini_bench"
"$top/$build/bench/copy_bench"
"$top/$build/bench/emulator_roundtrip_bench" "$top/$build/tools/kvxemu"
"$top/scripts/full_run_bench.sh" "$build"
