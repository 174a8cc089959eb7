#include "tests/flash_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvx::testing {

std::string Utf8Marked(const std::string& text) { return "\xEF\xBB\xBF" + text; }

FlashFixture::FlashFixture()
    : paths_(machine_.path()),
      files_(paths_, machine_ / "temp"),
      profile_(paths_),
      xml_(CreateLibxml2Services([this](const std::string& w, std::string& n) {
        return paths_.ToNative(w, n);
      })),
      ctx_{files_, debug_, profile_, *xml_, state_, flash_, objects_, message_box_, process_, strings_} {
  MakeDirs(machine_ / "dosdevices");
  symlink(volume_.path().c_str(), (machine_ / "dosdevices/~:").c_str());
  state_.flash_root = "~:";
}

void FlashFixture::Put(const std::string& relative, const std::string& bytes) const {
  const std::string path = Vol(relative);
  MakeDirs(path.substr(0, path.rfind('/')));
  WriteFile(path, bytes);
}

void FlashFixture::PutAccount(const std::string& folder, const std::string& ini_text) const {
  Put("QUARLE.000/" + folder + "/kvxaccount.ini", Utf8Marked(ini_text));
}

void FlashFixture::SetTime(const std::string& relative, long seconds) const {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, Vol(relative).c_str(), times, 0);
}

}  // namespace kvx::testing
