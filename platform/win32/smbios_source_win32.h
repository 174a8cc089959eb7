#pragma once
#include "platform/win32/windows_api.h"
#include <wbemcli.h>

#include <functional>

#include "platform/debug_output.h"
#include "platform/smbios_source.h"

namespace kvx {

// What the fetch calls besides the WMI objects themselves; a test replaces
// these to reach the objects of its own and a firmware of its own.
struct WmiCalls {
  // Creates the WMI locator (CLSID_WbemLocator, in-process server).
  std::function<HRESULT(IWbemLocator** out)> create_locator;
  // Sets the security of the services proxy for the calls that follow.
  std::function<HRESULT(IWbemServices* services)> set_proxy_blanket;
  // GetSystemFirmwareTable; empty when the system lacks it (Windows XP).
  std::function<UINT(DWORD provider, DWORD id, void* buffer, DWORD size)> firmware_table;
};

// The calls of the running system, GetSystemFirmwareTable looked up in
// kernel32 at run time.
WmiCalls SystemWmiCalls();

// The raw SMBIOS table from WMI's ROOT\WMI class MSSMBios_RawSMBiosTables;
// when WMI gives no table, from GetSystemFirmwareTable('RSMB'), with a
// debugger line saying so. Takes the debugger output by reference, and
// optionally the calls to make.
class Win32SmbiosSource : public SmbiosSource {
 public:
  explicit Win32SmbiosSource(DebugOutput& debug) : Win32SmbiosSource(debug, SystemWmiCalls()) {}
  Win32SmbiosSource(DebugOutput& debug, WmiCalls calls) : debug_(debug), calls_(std::move(calls)) {}
  bool Fetch(RawSmbios& out, std::string& failure) override;

 private:
  bool FetchFromWmi(RawSmbios& out, std::string& failure);
  bool FetchFromFirmware(RawSmbios& out);

  DebugOutput& debug_;
  WmiCalls calls_;
};

}  // namespace kvx
