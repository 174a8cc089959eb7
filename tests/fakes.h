#pragma once
// Fakes of the platform interfaces for unit tests: each records what it
// was asked and answers what the test set.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/command_processor.h"
#include "core/tool_context.h"
#include "platform/platform.h"

namespace kvx::testing {

class RecordingDebug : public DebugOutput {
 public:
  void Write(std::string_view text) override { lines.emplace_back(text); }
  bool Has(const std::string& line) const;
  // The index of the first line equal to `line`, or -1.
  long IndexOf(const std::string& line) const;
  std::vector<std::string> lines;
};

class RecordingConsole : public Console {
 public:
  void Write(std::string_view text) override { text_ += text; }
  std::string text_;
};

// The English string table.
class FakeStrings : public StringResources {
 public:
  std::string Load(int id) override;
};

class FakeProcess : public Process {
 public:
  std::string ModuleFileName() override { return module; }
  bool QueryVersion(bool extended, OsVersion& out) override;
  bool IsWow64() override { return wow64; }
  void ComInitialize() override { ++com_init; }
  void ComUninitialize() override { ++com_uninit; }

  std::string module = "C:\\tools\\QZRRemote.exe";
  bool extended_ok = true, plain_ok = true;
  unsigned major = 10;
  unsigned platform_id = 2;
  bool wow64 = false;
  int com_init = 0, com_uninit = 0;
};

class FakeSecurity : public Security {
 public:
  bool ReadAdminGroup(AdminGroupState& out) override;
  void LaunchElevated(const std::string& executable,
                      const std::vector<std::string>& arguments) override {
    launches.emplace_back(executable, arguments);
  }
  bool readable = true;
  AdminGroupState state{true, true};
  std::vector<std::pair<std::string, std::vector<std::string>>> launches;
};

class FakeObjects : public NamedObjects {
 public:
  std::unique_ptr<NamedMutex> CreateMutex(const std::string& name, bool* already_existed) override;
  std::unique_ptr<NamedMutex> OpenMutex(const std::string& name) override;
  std::unique_ptr<NamedMapping> CreateFileMapping(const std::string&, size_t, bool*) override {
    return nullptr;
  }
  std::unique_ptr<NamedMapping> OpenFileMapping(const std::string&) override { return nullptr; }
  bool fail = false;
  std::map<std::string, int> open;  // handles per name
};

// Files held in memory, written through Open; Access answers for them.
class MemoryFiles : public FileSystem {
 public:
  int Access(const std::string& path, int mode) override;
  std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) override;
  std::unique_ptr<File> CreateNew(const std::string& path, int* error) override {
    log.push_back("create");
    return Open(path, "wb", error);
  }
  bool FindFiles(const std::string&, std::vector<FindEntry>&) override { return false; }
  uint32_t GetAttributes(const std::string& path) override {
    return files.count(path) ? kAttrNormal : kInvalidAttributes;
  }
  bool SetAttributes(const std::string&, uint32_t) override { return true; }
  bool GetLastWriteTime(const std::string&, int64_t&) override { return false; }
  bool DeleteFile(const std::string& path) override { return files.erase(path) > 0; }
  bool RemoveDirectory(const std::string&) override { return false; }
  bool CreateDirectory(const std::string&) override { return false; }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    log.push_back("replace");
    if (!files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  bool SyncName(const std::string& path) override {
    log.push_back("sync name");
    return files.count(path) > 0;
  }
  std::string TempFolder() override { return "C:\\Temp\\"; }
  bool CreateTempFile(const std::string&, const std::string&, std::string&) override { return false; }
  bool SameFile(const std::string& a, const std::string& b) override {
    return a == b && files.count(a) > 0;
  }
  bool IsWithin(const std::string& folder, const std::string& path) override {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
  }
  std::map<std::string, std::string> files;
  std::vector<std::string> refused;  // paths whose open fails
  // What reached the files, in order: "create", "write", "sync",
  // "replace", "sync name".
  std::vector<std::string> log;
  bool sync_works = true;  // whether a file's data reaches the device
};

// Another file system with the faults a test chooses: a file opened for
// writing at a path that holds `full` takes no bytes and is not renamed
// into place (a full volume or temp folder), and once `deletions_left`
// reaches 0 nothing is deleted or removed any more (a run killed then).
class FaultyFiles : public FileSystem {
 public:
  explicit FaultyFiles(FileSystem& real) : real_(real) {}
  int Access(const std::string& path, int mode) override { return real_.Access(path, mode); }
  std::unique_ptr<File> Open(const std::string& path, const char* mode, int* error) override;
  std::unique_ptr<File> CreateNew(const std::string& path, int* error) override;
  bool FindFiles(const std::string& pattern, std::vector<FindEntry>& out) override {
    return real_.FindFiles(pattern, out);
  }
  uint32_t GetAttributes(const std::string& path) override { return real_.GetAttributes(path); }
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return real_.SetAttributes(path, attributes);
  }
  bool GetLastWriteTime(const std::string& path, int64_t& time) override {
    return real_.GetLastWriteTime(path, time);
  }
  bool DeleteFile(const std::string& path) override { return Deletes() && real_.DeleteFile(path); }
  bool RemoveDirectory(const std::string& path) override {
    return Deletes() && real_.RemoveDirectory(path);
  }
  bool CreateDirectory(const std::string& path) override { return real_.CreateDirectory(path); }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    return !IsFull(to) && real_.ReplaceFile(from, to);
  }
  bool SyncName(const std::string& path) override { return real_.SyncName(path); }
  std::string TempFolder() override { return real_.TempFolder(); }
  bool CreateTempFile(const std::string& folder, const std::string& prefix,
                      std::string& path) override {
    return real_.CreateTempFile(folder, prefix, path);
  }
  bool SameFile(const std::string& a, const std::string& b) override { return real_.SameFile(a, b); }
  bool IsWithin(const std::string& folder, const std::string& path) override {
    return real_.IsWithin(folder, path);
  }

  std::string full;         // empty: nothing is full
  int deletions_left = -1;  // -1: no limit

 private:
  bool IsFull(const std::string& path) const {
    return !full.empty() && path.find(full) != std::string::npos;
  }
  bool Deletes() {
    if (deletions_left == 0) return false;
    if (deletions_left > 0) --deletions_left;
    return true;
  }
  FileSystem& real_;
};

class FakeClock : public Clock {
 public:
  bool LocalNow(std::tm& out) override;
  bool ok = true;
};

// Narrow text that is UTF-8, or ASCII with "?" for everything else.
class FakeAnsi : public AnsiText {
 public:
  std::string FromUtf8(std::string_view utf8) override;
  bool IsUtf8() override { return utf8; }
  bool utf8 = true;
};

class RecordingCommands : public CommandProcessor {
 public:
  bool DoRemoteCmdFile(XmlDocument&) override {
    ++documents;
    return driver_result;
  }
  bool CopyPersistentData(const std::string& folder) override {
    copies.push_back(folder);
    return copy_result;
  }
  bool ListFlashModule(bool json, std::string& out) override {
    listings.push_back(json);
    if (list_result) out = json ? "{}\n" : "listing\n";
    return list_result;
  }
  int documents = 0;
  bool driver_result = true, copy_result = true, list_result = true;
  std::vector<std::string> copies;
  std::vector<bool> listings;  // one per listing asked for: JSON or not
};

}  // namespace kvx::testing

namespace kvx::testing {

// XML services whose classes, schema registration and load outcome the test
// chooses; documents select nothing.
class FakeXml : public XmlServices {
 public:
  std::unique_ptr<XmlDocument> CreateDocument(XmlClassVersion version) override;
  std::shared_ptr<XmlSchemaCache> CreateSchemaCache(XmlClassVersion version) override;

  std::vector<XmlClassVersion> documents{XmlClassVersion::k60, XmlClassVersion::k30,
                                         XmlClassVersion::k40, XmlClassVersion::k26};
  std::vector<XmlClassVersion> caches = documents;
  bool add_ok = true;
  XmlParseError load_error;  // code 0: the load succeeds
  // What was asked, in order: "doc 60", "cache 30", "add  <location>",
  // "load <path>", and the document's settings.
  std::vector<std::string> calls;
};

}  // namespace kvx::testing

namespace kvx::testing {

// A flash cycle over a fixture volume: BeginFlash publishes "~:" (unless
// told to fail), and every call is recorded in order.
class RecordingFlash : public FlashServices {
 public:
  explicit RecordingFlash(ToolState& state) : state_(state) {}
  bool BeginFlash(int& status) override;
  bool EndFlash() override;
  int NotifyServiceExport() override;
  bool NotifyServiceUsersName(const std::string& file_name) override;

  bool begin_ok = true;
  std::vector<std::string> calls;  // "BeginFlash", "EndFlash", "Export", "UsersName kvxaccount.ini"

 private:
  ToolState& state_;
};

// Records each sleep instead of sleeping.
class RecordingSleeper : public Sleeper {
 public:
  void Sleep(uint32_t ms) override { waits.push_back(ms); }
  std::vector<uint32_t> waits;
};

class RecordingMessageBox : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& caption) override {
    shown.push_back(caption + ": " + text);
  }
  std::vector<std::string> shown;
};

}  // namespace kvx::testing
