#pragma once
// The program's string table: messages 102 to 111 of the two modes the
// tool began with, and the texts of /validate and /list after them, in
// eleven languages identified by their Windows language ids. Every
// platform's string resources are built from this one table.
#include <string_view>
#include <vector>

namespace kvx {

inline constexpr int kLangEnglish = 1033;

inline constexpr int kFirstStringId = 102;
inline constexpr int kLastStringId = 147;

// The texts of the /validate and /list modes. Lines that the modes print
// carry no line end of their own (the mode adds it); the placeholders are
// "%s", filled in order.
enum ModeString : int {
  // /validate: the header of a file that passes, and one line a step.
  kValidHeader = 112,          // file
  kStepDeleteAccount,          // account
  kStepResetAccount,           // account
  kStepPasswordChangeAccount,  // account
  kStepCopyPersistentData,
  kStepDeleteEvery,
  kStepResetEvery,
  kStepPasswordChangeEvery,
  kStepAppOnEvery,      // application
  kStepAppOffEvery,     // application
  kStepAppOnAccount,    // application, account
  kStepAppOffAccount,   // application, account
  kPasswordSettings,    // settings (also in /list)
  kPowerSettings,       // settings (also in /list)
  kRadioSettings,       // settings (also in /list)
  // /validate: what will have no effect.
  kNoEffectAction,          // action
  kNoEffectIncomplete,      // element name
  kNoEffectLetterCase,      // account, the other spelling
  kNoEffectReplaced,        // element name, its number, how many
  kNoEffectNotApplication,  // child name
  kNoEffectSingleNoUser,
  kNoEffectFirstChildOnly,  // child name, element name
  kNoEffectTextOnly,        // element name
  kNothingToDo,
  kNoteNotXmlName,
  kSchemaUnusable,  // schema path: the reason of the validation report
  // /list.
  kListRoots,           // flash root, data root, system root
  kListAccounts,        // count, default account
  kListAccount,         // account, first-start mark, application switches
  kListOn,
  kListOff,
  kListWaiting,
  kListPasswordChange,  // account
  kListNone,
  kListNoModule,        // the whole message of a /list that reached no module
  kListUnreadable,      // file
};
static_assert(kListUnreadable == kLastStringId);

// The text of string `id` in language `lang`; null when the table has no
// such language or id.
const char* StringTableText(int lang, int id);

// The language ids of the table, in its order.
std::vector<int> StringTableLanguages();

// The language id for a POSIX locale name ("de_DE.UTF-8", "zh_TW", "C");
// English for a name that matches no language of the table.
int LanguageForLocaleName(std::string_view locale_name);

}  // namespace kvx
