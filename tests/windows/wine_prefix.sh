#!/bin/sh
# The Wine prefix of one test run, in the build folder: made afresh before
# the Windows tests and its server stopped after them, so no state of an
# earlier run (services, registry, files) reaches this one.
# Usage: wine_prefix.sh create|stop WINE PREFIX
set -eu
action=$1 wine=$2 prefix=$3
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No browser or .NET runtime: nothing the tests use, and their installers
# would ask questions.
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  create)
    wineserver -k 2>/dev/null || true
    # Only the prefix folder itself is removed; rm does not follow links.
    rm -rf -- "$prefix"
    "$wine" wineboot -i
    wineserver -w
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 create|stop WINE PREFIX" >&2
    exit 2
    ;;
esac
