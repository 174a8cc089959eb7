#!/usr/bin/env bash
# Wall time of a full run of examples/commands.xml against kvxemu, beside
# the waits the flash cycle must make with the module off at the start
# (500 ms after power-on, 1000 ms after the mount, 500 ms before
# power-off: 2.0 s). The difference is the tool's own overhead.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
machine=$(mktemp -d /tmp/kvx-fullrun-XXXXXX)
trap 'rm -rf "$machine"' EXIT
export KVXPREFIX=$machine
total=0
for i in $(seq "$runs"); do
  "$top/$build/tools/kvxemu" up --volume "$top/examples/volume" --power off >/dev/null
  start=$(date +%s%N)
  "$top/$build/bin/QZRRemote" "$top/examples/commands.xml" >/dev/null
  end=$(date +%s%N)
  "$top/$build/tools/kvxemu" down >/dev/null
  total=$((total + end - start))
done
awk -v ns="$total" -v n="$runs" 'BEGIN {
  wall = ns / n / 1e6; floor = 2000
  printf "full run of examples/commands.xml, module off, mean of %d runs:\n", n
  printf "  wall time %.1f ms, waits %.1f ms, overhead %.1f ms (%.1f%% above the floor)\n",
         wall, floor, wall - floor, (wall - floor) / floor * 100 }'

# The same run of the Windows tool under Wine, against the machine under
# Wine, when the 64-bit Windows build is there (./run bench makes it). The
# prefix is made once; each run brings the machine up in it afresh. The
# wall time includes starting the program under Wine.
winbuild=${WIN_BUILD:-build-win64}
[ -x "$top/$winbuild/tools/kvxwine.exe" ] || exit 0
wine=${KVX_WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=$machine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null; rm -rf "$machine"' EXIT
bin="$machine/drive_c/QZRRemote"
commands="Z:$(printf '%s' "$top/examples/commands.xml" | tr / '\\')"
total=0
for i in $(seq "$runs"); do
  "$top/$build/tools/kvxemu" up --volume "$top/examples/volume" --power off --wine "$top/$winbuild/tools" >/dev/null
  mkdir -p "$bin"
  cp "$top/$winbuild/bin/QZRRemote.exe" "$top/$winbuild/bin/KVXRemoteCmd.xsd" "$bin/"
  start=$(date +%s%N)
  "$wine" "$bin/QZRRemote.exe" "$commands" >/dev/null
  end=$(date +%s%N)
  "$top/$build/tools/kvxemu" down >/dev/null
  total=$((total + end - start))
done
awk -v ns="$total" -v n="$runs" 'BEGIN {
  wall = ns / n / 1e6; floor = 2000
  printf "the same run of the Windows tool under Wine (64-bit build), mean of %d runs:\n", n
  printf "  wall time %.1f ms, waits %.1f ms, overhead %.1f ms (%.1f%% above the floor)\n",
         wall, floor, wall - floor, (wall - floor) / floor * 100 }'
