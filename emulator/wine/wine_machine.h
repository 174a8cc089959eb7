/* The emulated machine under Wine: the names that its pieces (the kernel
 * driver kvxio_x64.sys, the companion service KvxMDES.exe, the machine's own
 * program kvxwine.exe, the management stand-in kvxwmi.dll) and the POSIX
 * emulator kvxemu share. Plain C, so the driver includes it too.
 *
 * The emulator kvxemu owns the whole machine state (module power and
 * status, mount and lock, ports, the calling interface, the knobs, the
 * ordered log). The pieces inside Wine answer the tool through the real
 * Windows interfaces and hand every request on to kvxemu, over the named
 * pipe KVX_WINE_PIPE that kvxwine.exe serves and relays to kvxemu's TCP
 * port. A request and its reply are frames of kvxemu's wire: a 32-bit
 * little-endian byte count, then the body: the number of fields (32-bit
 * little-endian), then each field as a 32-bit little-endian byte count and
 * its bytes; a reply's first field is "ok", or "err" and the Windows error
 * number (platform/emu_frame.h). */
#ifndef KVX_EMULATOR_WINE_WINE_MACHINE_H
#define KVX_EMULATOR_WINE_WINE_MACHINE_H

/* The pipe kvxwine.exe serves; one connection per client, any number. */
#define KVX_WINE_PIPE_NT L"\\??\\pipe\\kvxemu"
#define KVX_WINE_PIPE_WIN32 L"\\\\.\\pipe\\kvxemu"

/* The driver's service key holds, under Parameters, the NT path of the
 * machine's physical memory file (REG_SZ), e.g. "\??\Z:\m\emu\physmem";
 * so does HKEY_LOCAL_MACHINE\KVX_WINE_EMULATOR_KEY, which stays when a
 * library deletes the driver's service and creates it again. */
#define KVX_WINE_PHYSMEM_VALUE L"PhysicalMemory"

/* Where the management stand-in reads the raw SMBIOS table: a REG_SZ under
 * HKEY_LOCAL_MACHINE holding the Windows path of the machine's DMI file. */
#define KVX_WINE_EMULATOR_KEY L"Software\\KVX\\Emulator"
#define KVX_WINE_SMBIOS_VALUE L"SmbiosTable"

/* The companion service's own control codes, sent by kvxwine.exe when the
 * emulator's knob "mappings" changes: drop or make the two mappings. */
#define KVX_WINE_CONTROL_DROP_MAPPINGS 250
#define KVX_WINE_CONTROL_MAKE_MAPPINGS 251

/* The largest frame either side accepts (as kvxemu's wire). */
#define KVX_WINE_FRAME_LIMIT (1u << 20)

#endif
