/* The hardware access library: I/O ports, physical memory, DOS device names,
 * SMBIOS tokens and the BIOS calling interface, over the kernel I/O driver.
 * C linkage; every boolean is one byte, 1 for true and 0 for false; text is
 * narrow ("ANSI"). Open the library with InitializeWinIo before the port,
 * memory, device-name and calling-interface calls, and close it with
 * ShutdownWinIo; call InitSMBIOS before GetTokenFromTokenID and
 * CallInterface. */
#ifndef KVXHWIO_H
#define KVXHWIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t KVXBOOL;

#pragma pack(push, 1)
/* The registers a port write of SetPortValEx returns, in the driver's order. */
typedef struct sCPU_REGS {
  uint32_t regs[4];
} sCPU_REGS;

/* The command buffer of the BIOS calling interface. */
typedef struct sCMD_BUF {
  uint16_t cbClass;
  uint16_t cbSelect;
  uint32_t cbArg[4];
  uint32_t u32Res[4];
} sCMD_BUF;

/* A calling-interface request, zero-filled by the caller: the command port
 * and code (written by CallInterface), the command buffer, spare room. */
typedef struct KVX_CALLING_INTERFACE_REQUEST {
  uint16_t port;
  uint16_t code;
  uint16_t unused;
  sCMD_BUF stCmdBuf;
  uint8_t rest[133];
} KVX_CALLING_INTERFACE_REQUEST;
#pragma pack(pop)

KVXBOOL InitializeWinIo(void);
void ShutdownWinIo(void);
KVXBOOL InstallWinIoDriver(const char* driver_path, KVXBOOL demand_start);
KVXBOOL RemoveWinIoDriver(void);
KVXBOOL GetPortVal(uint16_t port, uint32_t* value, uint8_t width);
KVXBOOL SetPortVal(uint16_t port, uint32_t value, uint8_t width);
KVXBOOL SetPortValEx(uint16_t port, uint16_t value, sCPU_REGS* registers);
KVXBOOL CreateDosDevice(const char* target, const char* name);
KVXBOOL DeleteDosDevice(const char* name);
/* The linear address of `physical`, or null; `section` receives the handle
 * that UnmapPhysicalMemory takes. */
uint8_t* MapPhysToLin(uint32_t physical, uint32_t size, uint32_t* section);
KVXBOOL UnmapPhysicalMemory(uint32_t section, uint8_t* linear);
KVXBOOL GetPhysLong(uint32_t physical, uint32_t* value);
KVXBOOL SetPhysLong(uint32_t physical, uint32_t value);
KVXBOOL InitSMBIOS(void);
KVXBOOL GetTokenFromTokenID(uint16_t id, uint16_t* location, uint16_t* value);
/* `request` is a KVX_CALLING_INTERFACE_REQUEST; the second argument is not
 * used. */
KVXBOOL CallInterface(void* request, uint32_t unused);
KVXBOOL SetDefaultPortValue(uint16_t port, uint16_t code);

#ifdef __cplusplus
}
#endif

#endif
