#pragma once
// Everything one run of the tool works with, built over the platform: the
// hardware access library, the flash module, the companion service's
// senders, the flash cycle, and the tool context that the commands use.
#include "core/tool_context.h"
#include "flash/flash_cycle.h"
#include "flash/module_power.h"
#include "hwio/smbios_service.h"
#include "hwio/winio.h"
#include "platform/platform.h"
#include "service/service_notify.h"
#include "service/utility.h"

namespace kvx {

struct ToolRuntime {
  ToolRuntime(Platform& p, ToolState& state)
      : io({*p.devices, *p.services, *p.process, *p.files, *p.console, *p.debug, *p.legacy, *p.sleeper}),
        smbios(*p.debug, *p.smbios),
        module({io, smbios, *p.devices, *p.registry, *p.files, *p.debug}),
        notify(*p.services, *p.debug, *p.console),
        tool{*p.files, *p.debug, *p.profile, *p.xml, state, cycle, *p.objects, *p.message_box, *p.process, *p.strings},
        utility({tool, notify, module, *p.ansi, *p.sleeper}),
        cycle({state, *p.debug, utility, module, io, *p.sleeper}) {}

  WinIo io;
  SMBiosService smbios;
  FlashModule module;
  CUserInfoExport notify;
  // The context refers to the cycle below; nothing uses it before the
  // runtime is built.
  ToolContext tool;
  CUtility utility;
  FlashCycle cycle;
};

}  // namespace kvx
