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
