#pragma once
// A machine for the benchmarks: a temp machine folder whose drive "~"
// names a volume folder, the real POSIX file system, profile functions,
// XML services and named objects over it, and a flash cycle that only
// publishes the flash root (so no mandated wait is timed).
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/tool_context.h"
#include "platform/libxml2/xml_dom_libxml2.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/named_objects_posix.h"
#include "platform/posix/path_map.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/profile_posix.h"
#include "platform/string_table.h"

namespace kvx::bench {

class NoDebug : public DebugOutput {
 public:
  void Write(std::string_view) override {}
};

class NoMessageBox : public MessageBox {
 public:
  void Show(const std::string&, const std::string&) override {}
};

class EnglishStrings : public StringResources {
 public:
  std::string Load(int id) override {
    const char* t = StringTableText(kLangEnglish, id);
    return t ? t : "";
  }
};

class RootOnlyFlash : public FlashServices {
 public:
  explicit RootOnlyFlash(ToolState& state) : state_(state) {}
  bool BeginFlash(int& status) override {
    status = 2;
    state_.flash_root = "~:";
    return true;
  }
  bool EndFlash() override { return true; }
  int NotifyServiceExport() override { return 1; }
  bool NotifyServiceUsersName(const std::string&) override { return true; }

 private:
  ToolState& state_;
};

inline std::string MakeTempDir() {
  char dir_template[] = "/tmp/kvxbench.XXXXXX";
  return mkdtemp(dir_template);
}

struct BenchMachine {
  BenchMachine()
      : dir(MakeTempDir()),
        volume(dir + "/volume"),
        paths(dir),
        files(paths, dir + "/temp"),
        profile(paths),
        xml(CreateLibxml2Services([this](const std::string& w, std::string& n) {
          return paths.ToNative(w, n);
        })),
        objects(dir + "/objects"),
        flash(state),
        ctx{files, debug, profile, *xml, state, flash, objects, message_box, process, strings} {
    std::filesystem::create_directories(dir + "/dosdevices");
    std::filesystem::create_directories(dir + "/objects");
    std::filesystem::create_directories(volume);
    std::filesystem::create_directory_symlink(volume, dir + "/dosdevices/~:");
    state.flash_root = "~:";
  }
  ~BenchMachine() { std::filesystem::remove_all(dir); }

  std::string dir, volume;
  PathMap paths;
  PosixFileSystem files;
  PosixPrivateProfile profile;
  std::unique_ptr<XmlServices> xml;
  NoDebug debug;
  ToolState state;
  PosixNamedObjects objects;
  NoMessageBox message_box;
  PosixProcess process;
  EnglishStrings strings;
  RootOnlyFlash flash;
  ToolContext ctx;
};

}  // namespace kvx::bench
