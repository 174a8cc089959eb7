#!/bin/sh
# Runs kvxmdes_check.exe against KvxMDES.exe in a Wine prefix of its own,
# made afresh and its server stopped afterwards.
# Usage: kvxmdes_check.sh WINE PREFIX CHECK_EXE SERVICE_EXE
set -eu
wine=$1 prefix=$2 check=$3 service=$4
here=$(dirname "$0")
"$here/../../tests/windows/wine_prefix.sh" create "$wine" "$prefix" >/dev/null 2>&1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
status=0
"$wine" "$check" "Z:$service" || status=$?
"$here/../../tests/windows/wine_prefix.sh" stop "$wine" "$prefix"
exit $status
