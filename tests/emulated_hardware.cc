#include "tests/emulated_hardware.h"

namespace kvx::testing {

EmulatedHardware::EmulatedHardware(const std::string& volume)
    : emu_(volume),
      paths_(emu_.machine()),
      files_(paths_, emu_.machine() + "/temp"),
      profile_(paths_),
      xml_(CreateLibxml2Services([this](const std::string& w, std::string& n) { return paths_.ToNative(w, n); })),
      devices_(emu_.machine()),
      services_(emu_.machine()),
      registry_(emu_.machine()),
      smbios_source_(emu_.machine() + "/firmware/dmi/tables"),
      objects_(emu_.machine() + "/objects"),
      io_({devices_, services_, process_, files_, console_, debug_, legacy_, sleeper_}),
      smbios_(debug_, smbios_source_),
      module_({io_, smbios_, devices_, registry_, files_, debug_}),
      notify_(services_, debug_, console_),
      ctx_{files_, debug_, profile_, *xml_, state_, cycle_, objects_, message_box_, process_, strings_},
      utility_({ctx_, notify_, module_, ansi_, sleeper_}),
      cycle_({state_, debug_, utility_, module_, io_, sleeper_}) {}

std::vector<std::string> EmulatedHardware::LogOf(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& e : emu_.Log())
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  return out;
}

int EmulatedHardware::Count(const std::vector<uint32_t>& waits, uint32_t ms) const {
  return static_cast<int>(std::count(waits.begin(), waits.end(), ms));
}

}  // namespace kvx::testing
