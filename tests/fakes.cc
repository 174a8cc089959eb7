#include "tests/fakes.h"

#include <algorithm>
#include <cerrno>

#include "platform/string_table.h"

namespace kvx::testing {

bool RecordingDebug::Has(const std::string& line) const { return IndexOf(line) >= 0; }

long RecordingDebug::IndexOf(const std::string& line) const {
  auto it = std::find(lines.begin(), lines.end(), line);
  return it == lines.end() ? -1 : static_cast<long>(it - lines.begin());
}

std::string FakeStrings::Load(int id) {
  const char* text = StringTableText(kLangEnglish, id);
  return text ? text : "";
}

bool FakeProcess::QueryVersion(bool extended, OsVersion& out) {
  if (extended ? !extended_ok : !plain_ok) return false;
  out.major = major;
  out.platform_id = platform_id;
  return true;
}

bool FakeSecurity::ReadAdminGroup(AdminGroupState& out) {
  out = AdminGroupState();
  if (!readable) return false;
  out = state;
  return true;
}

namespace {

class FakeMutex : public NamedMutex {
 public:
  FakeMutex(FakeObjects& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  ~FakeMutex() override { --owner_.open[name_]; }
  WaitResult Wait(uint32_t) override { return WaitResult::kOwned; }
  bool Release() override { return true; }

 private:
  FakeObjects& owner_;
  std::string name_;
};

class MemoryFile : public File {
 public:
  MemoryFile(MemoryFiles& owner, std::string& contents) : owner_(owner), contents_(contents) {}
  bool Write(const void* data, size_t size) override {
    owner_.log.push_back("write");
    contents_.append(static_cast<const char*>(data), size);
    return true;
  }
  bool Flush() override { return true; }
  bool Sync() override {
    owner_.log.push_back("sync");
    return owner_.sync_works;
  }
  size_t Read(void*, size_t) override { return 0; }
  bool Error() override { return false; }
  bool Size(uint64_t& size) override {
    size = contents_.size();
    return true;
  }

 private:
  MemoryFiles& owner_;
  std::string& contents_;
};

// A stream that takes no bytes, as on a full volume.
class FullFile : public File {
 public:
  explicit FullFile(std::unique_ptr<File> real) : real_(std::move(real)) {}
  bool Write(const void*, size_t size) override { return size == 0; }
  bool Flush() override { return real_->Flush(); }
  bool Sync() override { return real_->Sync(); }
  size_t Read(void* data, size_t size) override { return real_->Read(data, size); }
  bool Error() override { return real_->Error(); }
  bool Size(uint64_t& size) override { return real_->Size(size); }

 private:
  std::unique_ptr<File> real_;
};

}  // namespace

std::unique_ptr<File> FaultyFiles::Open(const std::string& path, const char* mode, int* error) {
  std::unique_ptr<File> file = real_.Open(path, mode, error);
  const bool writes = mode[0] != 'r' || std::string(mode).find('+') != std::string::npos;
  if (file && writes && IsFull(path)) return std::make_unique<FullFile>(std::move(file));
  return file;
}

std::unique_ptr<File> FaultyFiles::CreateNew(const std::string& path, int* error) {
  std::unique_ptr<File> file = real_.CreateNew(path, error);
  if (file && IsFull(path)) return std::make_unique<FullFile>(std::move(file));
  return file;
}

std::unique_ptr<NamedMutex> FakeObjects::CreateMutex(const std::string& name, bool* already_existed) {
  if (fail) return nullptr;
  *already_existed = open[name] > 0;
  ++open[name];
  return std::make_unique<FakeMutex>(*this, name);
}

std::unique_ptr<NamedMutex> FakeObjects::OpenMutex(const std::string& name) {
  if (fail || open[name] == 0) return nullptr;
  ++open[name];
  return std::make_unique<FakeMutex>(*this, name);
}

int MemoryFiles::Access(const std::string& path, int) { return files.count(path) ? 0 : ENOENT; }

std::unique_ptr<File> MemoryFiles::Open(const std::string& path, const char* mode, int* error) {
  if (std::find(refused.begin(), refused.end(), path) != refused.end()) {
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  if (mode[0] == 'r' && !files.count(path)) {
    if (error) *error = kErrorFileNotFound;
    return nullptr;
  }
  std::string& contents = files[path];
  if (mode[0] == 'w') contents.clear();
  return std::make_unique<MemoryFile>(*this, contents);
}

bool FakeClock::LocalNow(std::tm& out) {
  if (!ok) return false;
  out = std::tm{};
  out.tm_year = 110;
  out.tm_mon = 4;
  out.tm_mday = 4;
  out.tm_hour = 13;
  out.tm_min = 7;
  return true;
}

std::string FakeAnsi::FromUtf8(std::string_view text) {
  if (utf8) return std::string(text);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xC0) != 0x80) {
      out += '?';
    }
  }
  return out;
}

}  // namespace kvx::testing

namespace kvx::testing {

namespace {

const char* VersionName(XmlClassVersion v) {
  switch (v) {
    case XmlClassVersion::k60: return "60";
    case XmlClassVersion::k30: return "30";
    case XmlClassVersion::k40: return "40";
    case XmlClassVersion::k26: return "26";
  }
  return "?";
}

class FakeCache : public XmlSchemaCache {
 public:
  explicit FakeCache(FakeXml& owner) : owner_(owner) {}
  bool Add(const std::string& ns, const std::string& location) override {
    owner_.calls.push_back("add " + ns + " " + location);
    return owner_.add_ok;
  }

 private:
  FakeXml& owner_;
};

class FakeDocument : public XmlDocument {
 public:
  explicit FakeDocument(FakeXml& owner) : owner_(owner) {}
  void SetSchemas(std::shared_ptr<XmlSchemaCache> s) override {
    owner_.calls.push_back(s ? "schemas" : "no schemas");
  }
  void SetAsync(bool on) override { owner_.calls.push_back(on ? "async" : "sync"); }
  void SetValidateOnParse(bool on) override { owner_.calls.push_back(on ? "validate" : "no validate"); }
  void SetResolveExternals(bool on) override { owner_.calls.push_back(on ? "externals" : "no externals"); }
  void SetPreserveWhiteSpace(bool on) override { owner_.calls.push_back(on ? "preserve" : "no preserve"); }
  bool Load(const std::string& path) override {
    owner_.calls.push_back("load " + path);
    return owner_.load_error.code == 0;
  }
  XmlParseError ParseError() override { return owner_.load_error; }
  std::unique_ptr<XmlNodeList> SelectNodes(const std::string&) override { return nullptr; }
  bool AppendProcessingInstruction(const std::string&, const std::string&) override { return false; }
  std::unique_ptr<XmlElement> CreateElement(const std::string&) override { return nullptr; }
  bool AppendChild(XmlElement&) override { return false; }
  bool Serialize(std::string&) override { return false; }

 private:
  FakeXml& owner_;
};

}  // namespace

std::unique_ptr<XmlDocument> FakeXml::CreateDocument(XmlClassVersion version) {
  calls.push_back(std::string("doc ") + VersionName(version));
  if (std::find(documents.begin(), documents.end(), version) == documents.end()) return nullptr;
  return std::make_unique<FakeDocument>(*this);
}

std::shared_ptr<XmlSchemaCache> FakeXml::CreateSchemaCache(XmlClassVersion version) {
  calls.push_back(std::string("cache ") + VersionName(version));
  if (std::find(caches.begin(), caches.end(), version) == caches.end()) return nullptr;
  return std::make_shared<FakeCache>(*this);
}

}  // namespace kvx::testing

namespace kvx::testing {

bool RecordingFlash::BeginFlash(int& status) {
  calls.push_back("BeginFlash");
  status = 2;
  if (!begin_ok) return false;
  state_.flash_root = "~:";
  return true;
}

bool RecordingFlash::EndFlash() {
  calls.push_back("EndFlash");
  return true;
}

int RecordingFlash::NotifyServiceExport() {
  calls.push_back("Export");
  return 1;
}

bool RecordingFlash::NotifyServiceUsersName(const std::string& file_name) {
  calls.push_back("UsersName " + file_name);
  return true;
}

}  // namespace kvx::testing
