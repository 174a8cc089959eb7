#!/usr/bin/env bash
# Runs the tool on the example command files in a fresh machine folder,
# with the debugger output viewer attached, and shows what happened.
set -uo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/$build/bin"
tools="$top/$build/tools"

machine=$(mktemp -d /tmp/kvx-demo.XXXXXX)
export KVXPREFIX="$machine"
trap 'kill "$viewer" 2>/dev/null; wait "$viewer" 2>/dev/null; rm -rf "$machine"' EXIT

"$tools/kvxdbgview" --ready "$machine/.ready" --output "$machine/debug.txt" &
viewer=$!
for _ in $(seq 100); do [ -e "$machine/.ready" ] && break; sleep 0.05; done

echo "Machine folder: $machine (KVXPREFIX)"
echo "Tool:           $bin/QZRRemote"
echo

run() {
  local label=$1
  shift
  local seen
  seen=$(wc -l < "$machine/debug.txt")
  echo "=== $label"
  echo "\$ QZRRemote $*"
  local out
  out=$("$bin/QZRRemote" "$@")
  local code=$?
  printf '%s\n' "console:      ${out%$'\n'}"
  echo "exit code:    $code"
  echo "history line: $(head -n 1 "$bin/QZRRemote.log" 2>/dev/null)"
  sleep 0.2
  echo "debugger output:"
  tail -n +"$((seen + 1))" "$machine/debug.txt" | sed -e 's/^/  | /'
  echo
}

run "The full example command file" "$top/examples/commands.xml"
run "A file the schema refuses" "$top/examples/invalid-command.xml"
run "A file that is not well formed" "$top/examples/not-well-formed.xml"
run "No command file at all"
LANG=de_DE.UTF-8 run "The same, in German (LANG=de_DE.UTF-8)"

cat <<'NOTE'
The remote command processing is in place (its tests apply
examples/commands.xml to a copy of examples/volume); the flash cycle and
the emulated machine that powers and mounts the module come next. Until
then no flash cycle opens, so a valid file ends with result code 5 and the
debugger output says why.
NOTE
