# What both demos show, sourced by demo.sh and demo_windows.sh. They set
# top (the source tree), tools (the POSIX build's tools) and machine (the
# machine folder) first.

bold() { printf '\033[1m%s\033[0m\n' "$*"; }
[ -t 1 ] || bold() { printf '%s\n' "$*"; }

# The entries of the machine's log, one per line, from the n-th on.
machine_log() {
  "$tools/kvxemu" ctl state | sed -n '/"log": \[/,/^  \]/p' | sed '1d;$d' |
    sed -e 's/^ *"//' -e 's/",\{0,1\}$//' -e 's/\\\\/\\/g' | tail -n +"$1"
}

# What a run changed on the flash volume, against the example volume.
volume_changes() {
  diff -rq "$top/examples/volume" "$machine/emu/volume" |
    sed -e "s|^Files $top/examples/volume/\(.*\) and .* differ$|  changed  \1|" \
        -e "s|^Only in $top/examples/volume\(.*\): \(.*\)$|  removed  \1/\2|" \
        -e "s|^Only in $machine/emu/volume\(.*\): \(.*\)$|  added    \1/\2|" \
        -e 's|^\(  [a-z]* *\)/|\1|'
}

# The machine's state at the end: the module, the drives and the services.
machine_summary() {
  "$tools/kvxemu" ctl state | grep -E '"module"|"drives"|"KvxMDES"|"KVXIO"' | sed -e 's/^ */  /'
}

# show_run LABEL SHOWN -- COMMAND...: runs the tool's COMMAND, shown as the
# command line SHOWN, and shows its console text, exit code and wall time,
# its history line (the log named by $log), how much debugger output it
# gave ($machine/debug.txt), and what the machine was asked, in order.
show_run() {
  local label=$1 shown=$2
  shift 3
  local seen_log seen_debug
  seen_log=$(($(machine_log 1 | wc -l) + 1))
  seen_debug=$(wc -l < "$machine/debug.txt")
  bold "=== $label"
  echo "$shown"
  local out code start end
  start=$(date +%s%N)
  out=$("$@")
  code=$?
  end=$(date +%s%N)
  out=$(printf '%s' "$out" | tr -d '\r')
  if [ "$(printf '%s' "${out%$'\n'}" | wc -l)" -eq 0 ]; then
    echo "console:      ${out%$'\n'}"
  else
    echo "console:"
    printf '%s\n' "${out%$'\n'}" | sed -e 's/^/  /'
  fi
  echo "exit code:    $code        (wall time $(( (end - start) / 1000000 )) ms)"
  echo "history line: $(head -n 1 "$log" 2>/dev/null | tr -d '\r')"
  sleep 0.3
  echo "debugger output: $(( $(wc -l < "$machine/debug.txt") - seen_debug )) lines"
  echo "what the module and the companion service were asked, in order:"
  machine_log "$seen_log" | sed -e 's/^/  /'
  echo
}
