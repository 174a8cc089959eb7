#!/usr/bin/env bash
# The tool against the emulated machine, from start to end: a fresh machine
# folder, kvxemu with a copy of examples/volume and the module powered off,
# the debugger output viewer and the progress watcher attached; a run of
# examples/commands.xml (checked first with /validate, and the module listed
# with /list before and after it) and a run of copyPersistentData; and what
# happened.
set -uo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/$build/bin"
tools="$top/$build/tools"

machine=$(mktemp -d /tmp/kvx-demo.XXXXXX)
export KVXPREFIX="$machine"
viewer=
cleanup() {
  "$tools/kvxemu" down >/dev/null 2>&1
  [ -n "$viewer" ] && kill "$viewer" 2>/dev/null && wait "$viewer" 2>/dev/null
  rm -rf "$machine"
}
trap cleanup EXIT

. "$top/scripts/demo_lib.sh"

"$tools/kvxdbgview" --ready "$machine/.viewer" --output "$machine/debug.txt" &
viewer=$!
for _ in $(seq 100); do [ -e "$machine/.viewer" ] && break; sleep 0.05; done
"$tools/kvxemu" up --volume "$top/examples/volume" --power off || exit 1

bold "Machine folder: $machine (KVXPREFIX)"
echo "Tool:           $bin/QZRRemote"
echo "Debugger output of every run: $machine/debug.txt (kvxdbgview)"
echo

run() {
  local label=$1
  shift
  log="$bin/QZRRemote.log" show_run "$label" "\$ QZRRemote $*" -- "$bin/QZRRemote" "$@"
}

bold "=== The example command file, checked first (no rights, no module, no history line)"
echo "\$ QZRRemote /validate $top/examples/commands.xml"
"$bin/QZRRemote" /validate "$top/examples/commands.xml" | sed -e 's/^/  /'
echo "exit code:    ${PIPESTATUS[0]}"
echo

run "What the module holds before the run" /list
run "The example command file, module off at the start" "$top/examples/commands.xml"
bold "What changed on the flash volume"
volume_changes
echo
run "What the module holds after the run" /list

mkdir -p "$machine/backup"
"$tools/kvxprogress" --ready "$machine/.progress" > "$machine/progress.txt" 2>&1 &
progress=$!
for _ in $(seq 100); do [ -e "$machine/.progress" ] && break; sleep 0.05; done
run "Copy the user folder to the PC" copyPersistentData "$machine/backup"
wait "$progress"
echo "kvxprogress saw: $(tr '\n' ' ' < "$machine/progress.txt")"
echo "copied to $machine/backup:"
(cd "$machine/backup" && find . -type f | sed -e 's|^\./|  |' | sort)
echo

bold "The machine at the end"
machine_summary
"$tools/kvxemu" down
