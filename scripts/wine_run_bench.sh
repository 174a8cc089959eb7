#!/usr/bin/env bash
# Where the Windows tool's full run under Wine goes beyond the 2.0 s of
# mandated waits: the 32-bit QZRRemote.exe, run on one machine under Wine
# (module off before each run) in five ways, each a real run of the
# product, medians of $RUNS rounds:
#   Wine's process start   a 32-bit program that does nothing, built
#                          here with the same compiler
#   the tool's own start   QZRRemote.exe /? beyond that
#   COM, MSXML and loading QZRRemote.exe /validate examples/commands.xml
#                          beyond /? (COM, the schema cache, the schema and
#                          the command file loaded and walked)
#   the flash cycle        QZRRemote.exe /list beyond /? and the waits: the
#                          same cycle with the module off (WMI, the service
#                          manager, the driver's and the companion service's
#                          requests) and the accounts read
#   the commands           the full run beyond /validate and /list's cycle:
#                          the volume's files written and flushed, the
#                          history line
# Usage: wine_run_bench.sh POSIX_BUILD WINDOWS_BUILD MACHINE_TOOLS
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
winbuild=${2:-build-win}
machinetools=${3:-$top/build-win64/tools}
runs=${RUNS:-5}
wine=${KVX_WINE:-/usr/lib/wine/wine}
[ -f "$top/$winbuild/bin/QZRRemote.exe" ] && [ -f "$machinetools/kvxwine.exe" ] || {
  echo "wine_run_bench: the 32-bit build ($winbuild) or the machine's tools ($machinetools) are missing" >&2
  exit 1
}

machine=$(mktemp -d /tmp/kvx-winebench-XXXXXX)
export KVXPREFIX=$machine WINEPREFIX=$machine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
emu="$top/$build/tools/kvxemu"
# The machine's own shutdown may have ended the Wine server already.
trap '"$emu" down >/dev/null 2>&1 || true; wineserver -k 2>/dev/null || true; rm -rf "$machine"' EXIT
"$emu" up --volume "$top/examples/volume" --power off --wine "$machinetools" >/dev/null
bin="$machine/drive_c/QZRRemote"
mkdir -p "$bin"
cp "$top/$winbuild/bin/QZRRemote.exe" "$top/$winbuild/bin/KVXRemoteCmd.xsd" "$bin/"
commands="Z:$(printf '%s' "$top/examples/commands.xml" | tr / '\\')"
printf 'int main(void) { return 0; }\n' | i686-w64-mingw32-gcc -O2 -s -x c - -o "$machine/nothing.exe"

# ms COMMAND...: the wall time of one run, in milliseconds.
ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$machine/times"
for _ in $(seq "$runs"); do
  printf '%s %s %s %s %s\n' \
    "$(ms "$wine" "$machine/nothing.exe")" \
    "$(ms "$wine" "$bin/QZRRemote.exe" '/?')" \
    "$(ms "$wine" "$bin/QZRRemote.exe" /validate "$commands")" \
    "$(ms "$wine" "$bin/QZRRemote.exe" "$commands")" \
    "$(ms "$wine" "$bin/QZRRemote.exe" /list)" >>"$machine/times"
done
column() { awk -v c="$1" '{ print $c }' "$machine/times" | median; }
start=$(column 1) help=$(column 2) validate=$(column 3) full=$(column 4) list=$(column 5)
awk -v start="$start" -v help="$help" -v validate="$validate" -v full="$full" -v list="$list" -v n="$runs" 'BEGIN {
  waits = 2000
  cycle = list - waits - help
  printf "the Windows tool'"'"'s full run under Wine (32-bit QZRRemote.exe), medians of %d rounds:\n", n
  printf "  wall time %d ms, waits %d ms, above them %d ms:\n", full, waits, full - waits
  printf "    Wine'"'"'s process start and end   %5d ms\n", start
  printf "    the tool'"'"'s own start            %5d ms\n", help - start
  printf "    COM, MSXML, schema and load    %5d ms\n", validate - help
  printf "    the flash cycle (WMI, services,%5d ms\n", cycle
  printf "    driver) and the accounts read\n"
  printf "    the commands: the volume'"'"'s    %5d ms\n", full - waits - validate - cycle
  printf "    files and the history line\n" }'
