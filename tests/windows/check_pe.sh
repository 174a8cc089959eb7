#!/usr/bin/env bash
# Static checks of the Windows build's programs, for a build whose programs
# cannot run here (the 32-bit product on a machine without 32-bit Wine):
# the tool's folder holds only the tool and its schema; QZRRemote.exe and
# kvxhwio.dll are PE files of the build's machine; the tool is a console
# program; both import only system DLLs (the runtimes are linked in); both
# export exactly the functions of hwio/kvxhwio.h by their plain names; the
# tool carries its manifest (invoker's level, supported systems) and both
# carry version information.
# Usage: check_pe.sh OBJDUMP MACHINE BIN_DIR KVXHWIO_DLL HEADER
#   MACHINE is objdump's format name: pei-i386 or pei-x86-64.
set -u

objdump=$1 machine=$2 bin=$3 dll=$4 header=$5
exe=$bin/QZRRemote.exe
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The folder the copy action carries onto the flash volume.
contents=$(cd "$bin" && LC_ALL=C ls -A | tr '\n' ' ')
[ "$contents" = "KVXRemoteCmd.xsd QZRRemote.exe " ] || fail "$bin holds: $contents"

# Libraries of the system itself; anything else (libgcc_s, libstdc++,
# libwinpthread, ...) would have to travel with the tool.
system_dlls=" advapi32.dll bcrypt.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll
  ole32.dll oleaut32.dll secur32.dll shell32.dll shlwapi.dll user32.dll version.dll ws2_32.dll "

# The functions the header declares, in sorted order.
wanted=$(sed -nE 's/^[A-Za-z_0-9]+[ *]+([A-Za-z_0-9]+)\(.*/\1/p' "$header" | LC_ALL=C sort | tr '\n' ' ')
[ "$(echo "$wanted" | wc -w)" -eq 17 ] || fail "$header declares: $wanted"

for pe in "$exe" "$dll"; do
  name=$(basename "$pe")
  if [ ! -f "$pe" ]; then
    fail "$pe is missing"
    continue
  fi
  format=$("$objdump" -f "$pe" | sed -nE 's/.*file format (.*)/\1/p')
  [ "$format" = "$machine" ] || fail "$name is $format, not $machine"

  info=$("$objdump" -p "$pe")
  while read -r imported; do
    lower=$(echo "$imported" | tr 'A-Z' 'a-z')
    case "$system_dlls" in
      *" $lower "*) ;;
      *) fail "$name imports $imported, which is no system DLL" ;;
    esac
  done < <(echo "$info" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p')

  exported=$(echo "$info" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
             sed -nE 's/^\s*\[ *[0-9]+\] (.*)$/\1/p' | LC_ALL=C sort | tr '\n' ' ')
  [ "$exported" = "$wanted" ] || fail "$name exports: $exported (wanted: $wanted)"

  # Resource types 0x10 (version) and, for the tool, 0x18 (manifest).
  resources=$(echo "$info" | sed -n '/The .rsrc Resource Directory section/,/Resources start/p')
  grep -q 'Entry: ID: 0x000010,' <<<"$resources" || fail "$name has no version information"
  grep -aq '"FileVersion"\|F.i.l.e.V.e.r.s.i.o.n' "$pe" || fail "$name's version information has no FileVersion"
done

info=$("$objdump" -p "$exe")
grep -qE '^Subsystem\s+00000003' <<<"$info" || fail "QZRRemote.exe is not a console program"
resources=$(sed -n '/The .rsrc Resource Directory section/,/Resources start/p' <<<"$info")
grep -q 'Entry: ID: 0x000018,' <<<"$resources" || fail "QZRRemote.exe has no manifest"
grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "the manifest does not ask for the invoker's level"
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
          4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
          8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -aq "supportedOS Id=\"{$os}\"" "$exe" || fail "the manifest does not name the system {$os}"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
