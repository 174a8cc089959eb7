#!/bin/sh
# Runs kvxio_check.exe (the driver and the relay against a stand-in machine)
# in a Wine prefix of its own, made afresh, with the drive ~ leading to a
# folder that holds kvxio_check.txt; its server stopped afterwards.
# Usage: kvxio_check.sh WINE PREFIX CHECK_EXE TOOLS_DIR
set -eu
wine=$1 prefix=$2 check=$3 tools=$4
here=$(dirname "$0")
"$here/../../tests/windows/wine_prefix.sh" create "$wine" "$prefix" >/dev/null 2>&1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix/volume"
echo check > "$prefix/volume/kvxio_check.txt"
ln -sfn "$prefix/volume" "$prefix/dosdevices/~:"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
status=0
"$wine" "$check" "$(winpath "$tools/kvxio_x64.sys")" "$(winpath "$prefix/physmem")" \
  "$(winpath "$tools/kvxwine.exe")" || status=$?
"$here/../../tests/windows/wine_prefix.sh" stop "$wine" "$prefix"
exit $status
