// QZRRemote.exe run as a user runs it, each test from a folder of its own
// holding a copy of the tool and its schema (the history log is written
// beside the tool): the exit code, the exact bytes on standard output, the
// history line in the thread's ANSI code page with CR LF line ends, and the
// messages of the debugger output stream, read as a debugger reads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/entry.h"
#include "core/utf.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string Utf8(const std::wstring& wide) { return Utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

// "\n" as the C run-time writes it to a stream in text mode.
std::string TextMode(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct ToolRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::vector<std::string> debug;  // one entry per message, in order
};

// The text of one debugger output message of the process `process`, as
// the debug event describes it (narrow or wide), without its terminator.
std::string DebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  const size_t unit = info.fUnicode ? sizeof(wchar_t) : 1;
  std::string bytes(static_cast<size_t>(info.nDebugStringLength) * unit, '\0');
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &got)) return "(unreadable)";
  bytes.resize(got);
  if (!info.fUnicode) return bytes.substr(0, bytes.find('\0'));
  std::wstring wide(bytes.size() / unit, L'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * unit);
  return Utf8(wide.substr(0, wide.find(L'\0')));
}

// Runs the debugged process to its end, collecting its debugger output;
// every exception is left to the process itself.
void DebugUntilExit(HANDLE process, std::vector<std::string>& messages) {
  DEBUG_EVENT ev;
  for (;;) {
    if (!WaitForDebugEvent(&ev, INFINITE)) return;
    DWORD status = DBG_CONTINUE;
    switch (ev.dwDebugEventCode) {
      case OUTPUT_DEBUG_STRING_EVENT:
        messages.push_back(DebugString(process, ev.u.DebugString));
        break;
      case EXCEPTION_DEBUG_EVENT:
        if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
          status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case CREATE_PROCESS_DEBUG_EVENT:
        if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
        break;
      default:
        break;
    }
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return;
  }
}

class QZRRemoteTool : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    folder_ = fs::path(temp) / (L"kvxtool." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    ASSERT_TRUE(fs::create_directories(folder_));
    const fs::path bin = fs::path(Wide(KVX_WIN_BIN_DIR));
    fs::copy_file(bin / L"QZRRemote.exe", folder_ / L"QZRRemote.exe");
    fs::copy_file(bin / L"KVXRemoteCmd.xsd", folder_ / L"KVXRemoteCmd.xsd");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  fs::path Tool() const { return folder_ / L"QZRRemote.exe"; }
  fs::path Log() const { return folder_ / L"QZRRemote.log"; }

  // Runs the tool with `args` appended to its quoted path as the command
  // line, from the test's folder, as the debugger of it: standard output
  // and the debugger output captured.
  ToolRun RunTool(const std::wstring& args) const {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + Tool().wstring() + L"\"";
    if (!args.empty()) command += L" " + args;
    PROCESS_INFORMATION pi{};
    const std::wstring cwd = folder_.wstring();
    const BOOL started = CreateProcessW(Tool().c_str(), command.data(), nullptr, nullptr, TRUE,
                                        DEBUG_ONLY_THIS_PROCESS, nullptr, cwd.c_str(), &si, &pi);
    CloseHandle(write_end);
    if (started) {
      // Standard output is read beside the debug loop, so that a full pipe
      // never stops the tool while the loop waits for it.
      std::thread reader([&] {
        char buf[4096];
        DWORD got = 0;
        while (ReadFile(read_end, buf, sizeof buf, &got, nullptr) && got > 0) run.out.append(buf, got);
      });
      DebugUntilExit(pi.hProcess, run.debug);
      reader.join();
      WaitForSingleObject(pi.hProcess, INFINITE);
      GetExitCodeProcess(pi.hProcess, &run.exit_code);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    CloseHandle(read_end);
    return run;
  }

  // The history log's one line: "TIME, FILE, MESSAGE" with the time as
  // "YYYY-MM-DD HH:MM"; returns what follows the time.
  static std::string AfterTime(const std::string& log) {
    static const std::regex time("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}");
    std::smatch m;
    if (!std::regex_search(log, m, time)) return "(no time in: " + log + ")";
    return m.suffix();
  }

  fs::path folder_;
};

TEST_F(QZRRemoteTool, HelpPrintsTheUsageOfThisFolderAndKeepsTheLog) {
  std::ofstream(Log(), std::ios::binary) << "earlier line\r\n";
  const ToolRun run = RunTool(L"/?");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(run.out, TextMode(UsageText(Utf8(Tool().wstring()))));
  EXPECT_EQ(ReadAll(Log()), "earlier line\r\n");
}

TEST_F(QZRRemoteTool, NoArgumentEndsWithOneAndItsMessageInTheLog) {
  const ToolRun run = RunTool(L"");
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_EQ(run.out, "You must specify the XML file name.\r\n");
  // The message's own line end, then the line's: an empty line follows.
  EXPECT_EQ(AfterTime(ReadAll(Log())), ", , You must specify the XML file name.\r\n\r\n");
  // The history line reaches the debugger as the log's line before the
  // file's text mode: line feeds only.
  ASSERT_EQ(run.debug.size(), 4u);
  EXPECT_EQ(run.debug[0], "Before create VeskQZRGlobalMutex.");
  EXPECT_EQ(run.debug[1], "The VeskQZRGlobalMutex create successfully.");
  EXPECT_EQ(AfterTime(run.debug[2]), ", , You must specify the XML file name.\n\n");
  EXPECT_EQ(run.debug[3], "The Error Message return is You must specify the XML file name.\n");
}

TEST_F(QZRRemoteTool, CommandFileThatCannotBeLoadedEndsWithFour) {
  // Missing and malformed. (A well-formed file against the schema is not
  // here: MSXML under Wine does not validate on load.)
  std::ofstream(folder_ / L"malformed.xml", std::ios::binary) << "<remoteCmd><singleUser></remoteCmd>";
  for (const std::wstring name : {L"absent.xml", L"malformed.xml"}) {
    SCOPED_TRACE(Utf8(name));
    const ToolRun run = RunTool(name);
    EXPECT_EQ(run.exit_code, 4u);
    EXPECT_EQ(run.out, "Failed to verify the XML file.\r\n");
    EXPECT_EQ(AfterTime(ReadAll(Log())), ", " + Utf8(name) + ", Failed to verify the XML file.\r\n\r\n");
    ASSERT_FALSE(run.debug.empty());
    EXPECT_EQ(run.debug.back(), "The Error Message return is Failed to verify the XML file.\n");
  }
}

TEST_F(QZRRemoteTool, SecondCopyIsTurnedAwayWithZeroAndLeavesAnEmptyLog) {
  HANDLE held = CreateMutexW(nullptr, FALSE, L"Global\\VeskQZRGlobalMutex");
  ASSERT_NE(held, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another run holds the guard";
  const ToolRun turned_away = RunTool(L"commands.xml");
  CloseHandle(held);
  EXPECT_EQ(turned_away.exit_code, 0u);
  EXPECT_EQ(turned_away.out,
            "Cannot process the request. Another utility or application is currently running.\r\n");
  // Every start truncates the log; a run turned away writes no line.
  EXPECT_TRUE(fs::exists(Log()));
  EXPECT_EQ(ReadAll(Log()), "");
  ASSERT_EQ(turned_away.debug.size(), 3u);
  EXPECT_EQ(turned_away.debug[0], "Before create VeskQZRGlobalMutex.");
  EXPECT_EQ(turned_away.debug[1], "The VeskQZRGlobalMutex is already existed.");
  EXPECT_EQ(turned_away.debug[2],
            "The Error Message return is Cannot process the request. Another utility or application is "
            "currently running.\n");

  // With the guard released the tool runs again.
  EXPECT_EQ(RunTool(L"").exit_code, 1u);
}

TEST_F(QZRRemoteTool, HistoryLineIsInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "the test's expected bytes are those of code page 1252";
  // e-acute maps to one byte; the CJK character has no mapping and becomes
  // the code page's default character.
  const ToolRun run = RunTool(L"caf\u00e9\u8a2d.xml");
  EXPECT_EQ(run.exit_code, 4u);
  EXPECT_EQ(AfterTime(ReadAll(Log())), ", caf\xE9?.xml, Failed to verify the XML file.\r\n\r\n");
}

TEST_F(QZRRemoteTool, CopyPersistentDataWithoutFolderEndsWithOne) {
  for (const std::wstring mode : {L"copyPersistentData", L"COPYPERSISTENTDATA"}) {
    SCOPED_TRACE(Utf8(mode));
    const ToolRun run = RunTool(mode);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "You must specify the XML file name.\r\n");
  }
}

// The file is valid under the schema; under Wine the verdict "valid" rests
// on its loading only (MSXML there does not validate), so what this holds
// is the description of the steps and the log, not the schema's verdict.
TEST_F(QZRRemoteTool, ValidateSaysWhatAValidFileWillDoAndKeepsTheLog) {
  std::ofstream(Log(), std::ios::binary) << "earlier line\r\n";
  std::ofstream(folder_ / L"c.xml", std::ios::binary)
      << "<remoteCmd><singleUser action='deleteUser' user='john'/><allUser action='Reset'/>"
         "<configRadio wlan='off'/></remoteCmd>";
  const ToolRun run = RunTool(L"/validate c.xml");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(run.out, TextMode("c.xml is valid. A run will do, in this order:\n"
                              "  delete account john\n"
                              "  no effect: action \"Reset\" is not supported here (the run shows an error box)\n"
                              "  radio settings: configRadio wlan=\"off\"\n"));
  EXPECT_EQ(ReadAll(Log()), "earlier line\r\n");
}

TEST_F(QZRRemoteTool, ValidateReportsAFileThatCannotBeLoadedWithFour) {
  // Missing and malformed. (MSXML under Wine does not validate on load, so
  // a well-formed file against the schema is not here.)
  std::ofstream(folder_ / L"malformed.xml", std::ios::binary) << "<remoteCmd><singleUser></remoteCmd>";
  for (const std::wstring name : {L"absent.xml", L"malformed.xml"}) {
    SCOPED_TRACE(Utf8(name));
    const ToolRun run = RunTool(L"--validate " + name);
    EXPECT_EQ(run.exit_code, 4u);
    // The report of message 110: file, reason, source line, line number.
    const std::string head = TextMode("Validation failed on " + Utf8(name) + " \n=====================\nReason: ");
    EXPECT_EQ(run.out.rfind(head, 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\r\nSource: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\r\nLine: "), std::string::npos) << run.out;
    // Like the help, the mode writes no history line: the log is not even
    // opened.
    EXPECT_FALSE(fs::exists(Log()));
  }
}

}  // namespace
}  // namespace kvx
