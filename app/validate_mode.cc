#include "app/validate_mode.h"

#include <map>
#include <memory>

#include "app/entry.h"
#include "app/mode_text.h"
#include "commands/config_va.h"
#include "commands/remote_cmd_driver.h"
#include "core/text.h"
#include "platform/string_table.h"

namespace kvx {

namespace {

// Collects the lines of a description and whether any of them is a step
// that will change something.
class Description {
 public:
  explicit Description(StringResources& strings) : strings_(strings) {}
  void Step(int id, std::initializer_list<std::string> values = {}) {
    lines_.push_back(ModeText(strings_, id, values));
    effect_ = true;
  }
  void Note(int id, std::initializer_list<std::string> values = {}) {
    lines_.push_back(ModeText(strings_, id, values));
  }
  bool effect() const { return effect_; }
  std::vector<std::string> Take() { return std::move(lines_); }

 private:
  StringResources& strings_;
  std::vector<std::string> lines_;
  bool effect_ = false;
};

// singleUser: the accounts are checked against the flash at run time, by
// exact name; two spellings of one name cannot both match an account of
// the flash volume, whose names ignore letter case.
void DescribeSingleUser(Description& d, const XMLNodeList& nodes) {
  std::map<std::string, std::string> spellings;  // lower-cased name -> first spelling
  for (const AccountCommand& c : ReadSingleUserCommands(nodes)) {
    if (c.user.empty() || c.action.empty()) {
      d.Note(kNoEffectIncomplete, {"singleUser"});
      continue;
    }
    const int type = GetCmdType(c.action);
    if (SkipsAccountCheck(c.action)) {
      if (type == 3) {
        d.Step(kStepCopyPersistentData);
      } else {
        d.Note(kNoEffectAction, {c.action});
      }
      continue;
    }
    if (type == 0) {
      // The default account is never removed: it is reset instead.
      d.Step(c.user == "User" ? kStepResetAccount : kStepDeleteAccount, {c.user});
    } else if (type == 1) {
      d.Step(kStepResetAccount, {c.user});
    } else if (type == 2) {
      d.Step(kStepPasswordChangeAccount, {c.user});
    } else {
      d.Note(kNoEffectAction, {c.action});
      continue;
    }
    const auto [first, inserted] = spellings.emplace(ToLowerAscii(c.user), c.user);
    if (!inserted && first->second != c.user) d.Note(kNoEffectLetterCase, {c.user, first->second});
  }
}

void DescribeAllUser(Description& d, const XMLNodeList& nodes) {
  static const int kEvery[3] = {kStepDeleteEvery, kStepResetEvery, kStepPasswordChangeEvery};
  for (const AccountCommand& c : ReadAllUserCommands(nodes)) {
    if (c.action.empty()) {
      d.Note(kNoEffectIncomplete, {"allUser"});
      continue;
    }
    const int type = GetCmdType(c.action);
    if (type >= 0 && type <= 2) {
      d.Step(kEvery[type]);
    } else {
      d.Note(kNoEffectAction, {c.action});
    }
  }
}

bool IsConfigVAName(const std::string& lower_name) {
  for (const char* app : kApplicationNames)
    if (lower_name == app) return true;
  return lower_name == "singleuser";
}

void DescribeConfigVA(Description& d, DebugOutput& debug, const XMLNodeList& nodes) {
  if (nodes.empty()) return;
  const ConfigVASettings s = ReadConfigVA(debug, nodes);
  for (size_t i = 0; i < nodes.size(); ++i)
    if (!s.counted[i] && !IsConfigVAName(ToLowerAscii(nodes[i].strNodeName)))
      d.Note(kNoEffectNotApplication, {nodes[i].strNodeName});
  if (s.single && s.single_name.empty()) {
    d.Note(kNoEffectSingleNoUser);
    return;
  }
  // All nine switches are written together, the unmentioned ones granted.
  for (int app = 0; app < 9; ++app) {
    const bool on = s.flags[app] != 0;
    if (s.single) {
      d.Step(on ? kStepAppOnAccount : kStepAppOffAccount, {kApplicationNames[app], s.single_name});
    } else {
      d.Step(on ? kStepAppOnEvery : kStepAppOffEvery, {kApplicationNames[app]});
    }
  }
}

bool IsTextRecord(const XMLNode& record) { return !record.strNodeName.empty() && record.strNodeName[0] == '#'; }

// The last configPassword, configPower or configRadio element becomes a
// command-store file; the ones before it have no effect.
void DescribeSetting(Description& d, DebugOutput& debug, XmlDocument& document, const char* element,
                     const char* query, int id, bool first_record_only) {
  long count = 0;
  if (std::unique_ptr<XmlNodeList> all = document.SelectNodes(std::string("//") + element))
    count = all->Length();
  for (long n = 1; n < count; ++n)
    d.Note(kNoEffectReplaced, {element, std::to_string(n), std::to_string(count)});
  const XMLNodeList nodes = SelectNodes(document, debug, query);
  if (nodes.empty()) return;
  if (first_record_only) {
    if (IsTextRecord(nodes[0])) {
      d.Note(kNoEffectTextOnly, {element});
      return;
    }
    d.Step(id, {RecordText(nodes[0])});
    for (size_t i = 1; i < nodes.size(); ++i) d.Note(kNoEffectFirstChildOnly, {nodes[i].strNodeName, element});
    return;
  }
  for (const XMLNode& r : nodes) {
    if (IsTextRecord(r)) {
      d.Note(kNoEffectTextOnly, {element});
      return;
    }
  }
  d.Step(id, {RecordsText(nodes)});
}

}  // namespace

std::vector<std::string> DescribeCommandFile(StringResources& strings, DebugOutput& debug,
                                             XmlDocument& document) {
  Description d(strings);
  DescribeSingleUser(d, SelectNodes(document, debug, kSingleUserQuery));
  DescribeAllUser(d, SelectNodes(document, debug, kAllUserQuery));
  DescribeConfigVA(d, debug, SelectNodes(document, debug, kConfigVAQuery));
  DescribeSetting(d, debug, document, "configPassword", kConfigPasswordQuery, kPasswordSettings, true);
  DescribeSetting(d, debug, document, "configPower", kConfigPowerQuery, kPowerSettings, false);
  DescribeSetting(d, debug, document, "configRadio", kConfigRadioQuery, kRadioSettings, true);
  if (!d.effect()) d.Note(kNothingToDo);
  return d.Take();
}

int RunValidateMode(ValidateContext& ctx, const std::vector<std::string>& args) {
  StringResources& strings = ctx.xml.strings;
  if (args.size() < 3) {
    ctx.console.Write(strings.Load(103));
    return 1;
  }
  const std::string& file = args[2];
  ctx.process.ComInitialize();
  std::string schema_path;
  GetSchemaPath(ctx.process, schema_path);
  std::unique_ptr<XmlDocument> document;
  std::string report;
  std::string out;
  int result = 0;
  if (!LoadAndValidateXml(ctx.xml, document, file, schema_path, report)) {
    // A schema that could not be used leaves no report of the DOM's own.
    if (report.empty())
      report = FillPlaceholders(strings.Load(110),
                                {file, ModeText(strings, kSchemaUnusable, {schema_path}), "", "0"});
    out = report;
    result = 4;
  } else {
    out = ModeText(strings, kValidHeader, {file}) + "\n";
    for (const std::string& line : DescribeCommandFile(strings, ctx.xml.debug, *document))
      out += "  " + line + "\n";
    if (file.find(".xml") == std::string::npos) out += "  " + ModeText(strings, kNoteNotXmlName) + "\n";
  }
  document.reset();
  ctx.process.ComUninitialize();
  ctx.console.Write(out);
  return result;
}

}  // namespace kvx
