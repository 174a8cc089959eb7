#include "platform/win32/security_win32.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace kvx {
namespace {

// A group list of the token's form, built from SIDs of the BUILTIN domain.
class GroupList {
 public:
  void Add(DWORD rid, DWORD attributes) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid));
    sids_.push_back(sid);
    attributes_.push_back(attributes);
  }
  ~GroupList() {
    for (PSID s : sids_) FreeSid(s);
  }
  const TOKEN_GROUPS& Groups() {
    storage_.assign(sizeof(TOKEN_GROUPS) + sids_.size() * sizeof(SID_AND_ATTRIBUTES), 0);
    auto* g = reinterpret_cast<TOKEN_GROUPS*>(storage_.data());
    g->GroupCount = static_cast<DWORD>(sids_.size());
    for (size_t i = 0; i < sids_.size(); ++i) g->Groups[i] = {sids_[i], attributes_[i]};
    return *g;
  }

 private:
  std::vector<PSID> sids_;
  std::vector<DWORD> attributes_;
  std::vector<unsigned char> storage_;
};

constexpr DWORD kUsers = DOMAIN_ALIAS_RID_USERS;
constexpr DWORD kAdmins = DOMAIN_ALIAS_RID_ADMINS;
constexpr DWORD kEnabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;

// The walks of the tokens Wine cannot show: a filtered administrator, a
// plain user, and a list that names the group twice.
TEST(Win32Security, WalksTheGroupsAsTheTokenHoldsThem) {
  AdminGroupState state;
  {
    GroupList plain;
    plain.Add(kUsers, kEnabled);
    ASSERT_TRUE(AdminGroupFromTokenGroups(plain.Groups(), state));
    EXPECT_FALSE(state.member);
    EXPECT_FALSE(state.enabled);
  }
  {
    GroupList elevated;
    elevated.Add(kUsers, kEnabled);
    elevated.Add(kAdmins, kEnabled | SE_GROUP_OWNER);
    ASSERT_TRUE(AdminGroupFromTokenGroups(elevated.Groups(), state));
    EXPECT_TRUE(state.member);
    EXPECT_TRUE(state.enabled);
  }
  {
    GroupList filtered;  // the deny-only entry of a filtered administrator
    filtered.Add(kAdmins, SE_GROUP_USE_FOR_DENY_ONLY);
    filtered.Add(kUsers, kEnabled);
    ASSERT_TRUE(AdminGroupFromTokenGroups(filtered.Groups(), state));
    EXPECT_TRUE(state.member);
    EXPECT_FALSE(state.enabled);
  }
  {
    GroupList twice;  // the first entry decides
    twice.Add(kAdmins, SE_GROUP_USE_FOR_DENY_ONLY);
    twice.Add(kAdmins, kEnabled);
    ASSERT_TRUE(AdminGroupFromTokenGroups(twice.Groups(), state));
    EXPECT_TRUE(state.member);
    EXPECT_FALSE(state.enabled);
  }
  GroupList empty;
  ASSERT_TRUE(AdminGroupFromTokenGroups(empty.Groups(), state));
  EXPECT_FALSE(state.member);
}

TEST(Win32Security, ReadsTheProcessToken) {
  Win32Security security;
  AdminGroupState state;
  state.enabled = true;
  ASSERT_TRUE(security.ReadAdminGroup(state));
  // An enabled entry is always a member's.
  EXPECT_TRUE(state.member || !state.enabled);
}

// What the elevated copy reads back from its command line is the argument
// this copy had, whatever it holds.
TEST(Win32Security, QuotedArgumentsArriveWhole) {
  const std::wstring cases[] = {
      L"commands.xml",
      L"C:\\My Files\\commands.xml",
      L"",
      L"a\"b.xml",
      L"C:\\dir with blank\\",
      L"C:\\trailing\\\\",
      L"\\\\server\\share\\x y.xml",
      L"tab\there.xml",
      L"back\\\\\"quote",
      L"\x4e2d\x6587 name.xml",
  };
  for (const std::wstring& arg : cases) {
    const std::wstring line = L"QZRRemote.exe " + QuoteCommandLineArgument(arg);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(argc, 2) << Narrow(line);
    if (argc == 2) {
      EXPECT_EQ(std::wstring(argv[1]), arg) << Narrow(line);
    }
    LocalFree(argv);
  }
  // A plain name goes as it stands, without quotation marks.
  EXPECT_EQ(QuoteCommandLineArgument(L"a.xml"), L"a.xml");
}

}  // namespace
}  // namespace kvx
