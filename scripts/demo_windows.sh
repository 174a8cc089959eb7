#!/usr/bin/env bash
# The Windows tool, the 32-bit QZRRemote.exe, under Wine's WOW64 against the
# emulated machine under Wine, from start to end: a fresh machine folder
# that is also a Wine prefix, kvxemu --wine with a copy of examples/volume
# and the module powered off (the x64 driver in Wine's 64-bit driver host,
# the companion service under Wine's service manager), kvxdbgview.exe
# attached and kvxprogress.exe watching the copy; a run of
# examples/commands.xml and a run of copyPersistentData; and what happened.
# Usage: demo_windows.sh POSIX_BUILD WINDOWS_BUILD MACHINE_TOOLS
#   WINDOWS_BUILD is the 32-bit build (the tool and its companions),
#   MACHINE_TOOLS the 64-bit build's tools folder (the machine's pieces).
set -uo pipefail
build=${1:-build}
winbuild=${2:-build-win}
top=$(cd "$(dirname "$0")/.." && pwd)
tools="$top/$build/tools"
wintools="$top/$winbuild/tools"
machinetools=${3:-$top/build-win64/tools}
wine=${KVX_WINE:-/usr/lib/wine/wine}

machine=$(mktemp -d /tmp/kvx-demo-wine.XXXXXX)
export KVXPREFIX="$machine" WINEPREFIX="$machine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bin="$machine/drive_c/QZRRemote"
viewer=
cleanup() {
  "$tools/kvxemu" down >/dev/null 2>&1
  [ -n "$viewer" ] && kill "$viewer" 2>/dev/null && wait "$viewer" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$machine"
}
trap cleanup EXIT

. "$top/scripts/demo_lib.sh"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

bold "Making the Wine prefix and bringing the machine up (this takes a few seconds)"
"$tools/kvxemu" up --volume "$top/examples/volume" --power off --wine "$machinetools" || exit 1
mkdir -p "$bin"
cp "$top/$winbuild/bin/QZRRemote.exe" "$top/$winbuild/bin/KVXRemoteCmd.xsd" "$bin/"
"$wine" "$wintools/kvxdbgview.exe" --ready "$(winpath "$machine/.viewer")" \
  --output "$(winpath "$machine/debug.txt")" >/dev/null 2>&1 &
viewer=$!
for _ in $(seq 400); do [ -e "$machine/.viewer" ] && break; sleep 0.05; done
touch "$machine/debug.txt"

bold "Machine folder and Wine prefix: $machine"
echo "Tool:           C:\\QZRRemote\\QZRRemote.exe (the 32-bit product, under WOW64; its wall"
echo "                times include Wine starting it)"
echo "Debugger output of every run: $machine/debug.txt (kvxdbgview.exe)"
echo

run() {
  local label=$1
  shift
  log="$bin/QZRRemote.log" show_run "$label" "C:\\QZRRemote> QZRRemote.exe $*" -- "$wine" "$bin/QZRRemote.exe" "$@"
}

run "What the flash module holds before the run" /list
run "The example command file, module off at the start" "$(winpath "$top/examples/commands.xml")"
bold "What changed on the flash volume"
volume_changes
echo
run "What the flash module holds after the run" /list

mkdir -p "$machine/backup"
"$wine" "$wintools/kvxprogress.exe" --ready "$(winpath "$machine/.progress")" > "$machine/progress.txt" 2>&1 &
progress=$!
for _ in $(seq 400); do [ -e "$machine/.progress" ] && break; sleep 0.05; done
run "Copy the user folder to the PC" copyPersistentData "$(winpath "$machine/backup")"
wait "$progress"
echo "kvxprogress.exe saw: $(tr -d '\r' < "$machine/progress.txt" | tr '\n' ' ')"
echo "copied to $machine/backup:"
(cd "$machine/backup" && find . -type f | sed -e 's|^\./|  |' | sort)
echo

bold "The machine at the end"
machine_summary
"$tools/kvxemu" down
