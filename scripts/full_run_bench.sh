#!/usr/bin/env bash
# Wall time of a full run of examples/commands.xml against kvxemu, beside
# the waits the flash cycle must make with the module off at the start
# (500 ms after power-on, 1000 ms after the mount, 500 ms before
# power-off: 2.0 s). The difference is the tool's own overhead, which
# bench/full_run_breakdown_bench then splits into the run's steps. Then the
# same run of the Windows tool (the 32-bit QZRRemote.exe, under WOW64)
# against the machine under Wine, when the 32-bit build and the machine's
# 64-bit build are there (./run bench makes them); its wall time includes
# Wine starting the program.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
machine=$(mktemp -d /tmp/kvx-fullrun-XXXXXX)
trap 'rm -rf "$machine"' EXIT
export KVXPREFIX=$machine

# measure LABEL UP_ARGS -- TOOL ARGS...: the mean wall time of the tool's
# run over $runs fresh machines brought up with UP_ARGS, printed beside the
# floor of the mandated waits.
measure() {
  local label=$1 up=() total=0
  shift
  while [ "$1" != -- ]; do up+=("$1"); shift; done
  shift
  for _ in $(seq "$runs"); do
    "$top/$build/tools/kvxemu" up --volume "$top/examples/volume" --power off "${up[@]}" >/dev/null
    [ -z "${prepare:-}" ] || "$prepare"
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null || { echo "$label: the run ended with $?; no figure" >&2; exit 1; }
    end=$(date +%s%N)
    "$top/$build/tools/kvxemu" down >/dev/null
    total=$((total + end - start))
  done
  awk -v ns="$total" -v n="$runs" -v label="$label" 'BEGIN {
    wall = ns / n / 1e6; floor = 2000
    printf "%s, module off, mean of %d runs:\n", label, n
    printf "  wall time %.1f ms, waits %.1f ms, overhead %.1f ms (%.1f%% above the floor)\n",
           wall, floor, wall - floor, (wall - floor) / floor * 100 }'
}

measure "full run of examples/commands.xml" -- "$top/$build/bin/QZRRemote" "$top/examples/commands.xml"
# Where the tool's own time goes, step by step, from the send times of its
# debugger messages (each run on a fresh machine of the program's own):
# with the machine folder in /tmp as above, then in memory (/dev/shm, when
# it is tmpfs), which leaves out what the disk's file system adds to every
# file the run makes.
breakdown=0
bases=(/tmp)
[ "$(stat -f -c %T /dev/shm 2>/dev/null)" != tmpfs ] || bases+=(/dev/shm)
owns=()
for base in "${bases[@]}"; do
  out=$(KVX_BENCH_MACHINES=$base "$top/$build/bench/full_run_breakdown_bench" "$top/$build/tools/kvxemu" \
    "$top/$build/bin/QZRRemote" "$top/examples/commands.xml" "$top/examples/volume" \
    "$top/$build/bin/KVXRemoteCmd.xsd" "${BREAKDOWN_RUNS:-7}") || breakdown=$?
  printf '%s\n' "$out"
  owns+=("$(printf '%s\n' "$out" | awk '/^  own time/ { print $(NF - 1) }')")
done
# The run writes its files and flushes those of the volume to the device:
# what the disk adds to that is the file system's, the rest the tool's own.
if [ ${#owns[@]} -eq 2 ] && [ -n "${owns[0]}" ] && [ -n "${owns[1]}" ]; then
  awk -v disk="${owns[0]}" -v memory="${owns[1]}" 'BEGIN {
    printf "the tool'"'"'s own time in memory %.2f ms; the disk in /tmp adds %.2f ms to the run'"'"'s file writes and flushes\n",
           memory, disk - memory }'
fi

winbuild=${WIN_BUILD:-build-win}
machinetools=${WINE_MACHINE:-$top/build-win64/tools}
[ -f "$top/$winbuild/bin/QZRRemote.exe" ] && [ -f "$machinetools/kvxwine.exe" ] || exit "$breakdown"
wine=${KVX_WINE:-/usr/lib/wine/wine}
export WINEPREFIX=$machine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The machine's own down has usually ended the prefix's server already, and
# wineserver -k then ends with 1: that says nothing of the figures.
trap 'wineserver -k 2>/dev/null || true; rm -rf "$machine"' EXIT
bin="$machine/drive_c/QZRRemote"
# The tool's folder in the prefix, made once the prefix is there.
install_tool() {
  mkdir -p "$bin"
  cp "$top/$winbuild/bin/QZRRemote.exe" "$top/$winbuild/bin/KVXRemoteCmd.xsd" "$bin/"
}
prepare=install_tool
measure "the same run of the Windows tool under Wine (32-bit QZRRemote.exe)" --wine "$machinetools" -- \
  "$wine" "$bin/QZRRemote.exe" "Z:$(printf '%s' "$top/examples/commands.xml" | tr / '\\')"
exit "$breakdown"
