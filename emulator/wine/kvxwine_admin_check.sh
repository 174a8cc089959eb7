#!/bin/sh
# Checks kvxwine.exe's administrative steps in a fresh Wine prefix of their
# own: install, the service steps, user controls, status, registry and the
# driver's file. kvxmdes_check.exe --serve stands in for the machine's pipe
# (and keeps the prefix's wineserver up between the steps).
# Usage: kvxwine_admin_check.sh WINE PREFIX TOOLS_DIR CHECK_EXE [DRIVER_SYS]
#   TOOLS_DIR holds kvxwine.exe, KvxMDES.exe, kvxwmi.dll, kvxwmi32.dll and
#   kvxio_x64.sys;
#   DRIVER_SYS names another driver to install (it must be able to unload).
set -u
wine=$1 prefix=$2 tools=$3 check=$4 driver=${5:-$3/kvxio_x64.sys}
here=$(dirname "$0")
"$here/../../tests/windows/wine_prefix.sh" create "$wine" "$prefix" >/dev/null 2>&1 || exit 2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" "$check" --serve &
serve=$!
failures=0
out=$prefix/step.out err=$prefix/step.err

# step WANT_RC WANT_STDOUT WORDS...: runs kvxwine.exe WORDS and compares
# its exit code and its output (CR LF ends a line of a Windows program).
step() {
  want_rc=$1 want_out=$2
  shift 2
  "$wine" "$tools/kvxwine.exe" "$@" >"$out" 2>"$err"
  rc=$?
  got=$(tr -d '\r' <"$out")
  if [ "$rc" != "$want_rc" ] || [ "$got" != "$want_out" ]; then
    echo "FAIL: kvxwine $*: exit $rc (want $want_rc), output [$got] (want [$want_out]), error [$(cat "$err")]"
    failures=$((failures + 1))
  elif [ "$rc" != 0 ] && [ "$(tr -d '\r' <"$err" | wc -l)" != 1 ]; then
    echo "FAIL: kvxwine $*: a failure is one line on standard error, got [$(cat "$err")]"
    failures=$((failures + 1))
  fi
}
check() {
  if ! eval "$1"; then
    echo "FAIL: $2"
    failures=$((failures + 1))
  fi
}

drivers=$prefix/drive_c/windows/system32/drivers
step 0 "" install "Z:$driver" "Z:$tools/KvxMDES.exe" "Z:$tools/kvxwmi.dll" "Z:$tools/kvxwmi32.dll" '\??\Z:\m\emu\physmem' 'Z:\m\dmi\DMI'
step 0 running status KVXIO
step 0 running status KvxMDES
step 0 absent status NoSuchService
check "cmp -s '$driver' '$drivers/kvxio.sys'" "the driver is copied to drivers\\kvxio.sys"
check "cmp -s '$tools/KvxMDES.exe' '$prefix/drive_c/Program Files/KVX/KvxMDES.exe'" "the service is copied"
check "! ls '$drivers' '$prefix/drive_c/Program Files/KVX' | grep -q '\.new$'" "no copy is left beside its name"
step 0 "$(printf 'AppEvents\\Schemes\\Apps\\.Default\\DeviceConnect\\.Current\tC:\\Windows\\media\\Windows Hardware Insert.wav\nAppEvents\\Schemes\\Apps\\.Default\\DeviceDisconnect\\.Current\tC:\\Windows\\media\\Windows Hardware Remove.wav')" registry
# The 64-bit view unless a second word names the 32-bit one.
reg() { "$wine" reg query "$1" "/reg:${2:-64}" 2>/dev/null | tr -d '\r'; }
check "reg 'HKLM\\Software\\Classes\\CLSID\\{4590f811-1d3a-11d0-891f-00aa004b2e24}\\InprocServer32' | grep -q 'REG_SZ *Z:.*kvxwmi.dll$'" "the WMI stand-in is the locator's server"
check "reg 'HKLM\\Software\\Classes\\CLSID\\{4590f811-1d3a-11d0-891f-00aa004b2e24}\\InprocServer32' 32 | grep -q 'REG_SZ *Z:.*kvxwmi32.dll$'" "the 32-bit WMI stand-in is the locator's server for 32-bit callers"
check "reg 'HKLM\\Software\\Classes\\CLSID\\{4590f811-1d3a-11d0-891f-00aa004b2e24}\\InprocServer32' | grep -q 'ThreadingModel *REG_SZ *Both$'" "the WMI stand-in's threading model"
check "reg 'HKLM\\System\\CurrentControlSet\\Services\\KVXIO\\Parameters' | grep -qF 'PhysicalMemory    REG_SZ    \\??\\Z:\\m\\emu\\physmem'" "the driver's physical memory file"
check "reg 'HKLM\\Software\\KVX\\Emulator' | grep -qF 'SmbiosTable    REG_SZ    Z:\\m\\dmi\\DMI'" "the SMBIOS table's file"
check "reg 'HKLM\\System\\CurrentControlSet\\Services\\KvxMDES' | grep -qF 'KVX flash module service'" "the service's display name"

# The service's states, each step leaving the state it names.
step 0 "" service KvxMDES pause
step 0 paused status KvxMDES
step 0 "" service KvxMDES pause
step 0 "" service KvxMDES continue
step 0 running status KvxMDES
step 0 "" service KvxMDES pause
step 0 "" service KvxMDES start
step 0 running status KvxMDES
step 0 "" control KvxMDES 250
step 0 "" control KvxMDES 251
step 1 "" control KvxMDES 99
step 1 "" control KvxMDES x
step 0 "" service KvxMDES stop
step 0 stopped status KvxMDES
step 0 "" service KvxMDES stop
step 1 "" control KvxMDES 250
step 1 "" service KvxMDES pause
step 0 "" service KvxMDES start
step 0 "" service KvxMDES delete
step 0 absent status KvxMDES
step 0 "" service KvxMDES delete
step 0 "" service KvxMDES create
step 0 stopped status KvxMDES
step 0 "" service KvxMDES start
step 0 running status KvxMDES
step 1 "" service KVXIO create
step 1 "" service KvxMDES frob
step 1 "" frob

# The driver's file missing: the driver stops, its file goes, it cannot
# start again until the file is back; install puts it back.
step 0 "" remove-driver-file
step 0 stopped status KVXIO
check "[ ! -e '$drivers/kvxio.sys' ]" "remove-driver-file deletes drivers\\kvxio.sys"
step 0 "" remove-driver-file
step 1 "" service KVXIO start
step 0 "" install "Z:$driver" "Z:$tools/KvxMDES.exe" "Z:$tools/kvxwmi.dll" "Z:$tools/kvxwmi32.dll" '\??\Z:\m\emu\physmem' 'Z:\m\dmi\DMI'
step 0 running status KVXIO
step 0 running status KvxMDES
step 1 "" install "Z:$prefix/missing.sys" "Z:$tools/KvxMDES.exe" "Z:$tools/kvxwmi.dll" "Z:$tools/kvxwmi32.dll" x y
step 0 running status KvxMDES
check "cmp -s '$driver' '$drivers/kvxio.sys'" "a failed install leaves the driver's file"

kill "$serve" 2>/dev/null
"$here/../../tests/windows/wine_prefix.sh" stop "$wine" "$prefix"
echo "kvxwine admin steps: $failures failed"
[ "$failures" = 0 ]
