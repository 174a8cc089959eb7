// The machine's knobs and its state as JSON.
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "core/json.h"
#include "core/text.h"
#include "emulator/machine.h"
#include "platform/posix/registry_posix.h"

namespace kvx::emu {

namespace {

std::string Json(const std::string& s) { return JsonString(s); }

const char* StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped: return "stopped";
    case kServiceStartPending: return "start pending";
    case kServiceStopPending: return "stop pending";
    case kServiceRunning: return "running";
    case kServiceContinuePending: return "continue pending";
    case kServicePausePending: return "pause pending";
    case kServicePaused: return "paused";
    default: return "unknown";
  }
}

bool ParseInt(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtoll(text.c_str(), &end, 0);
  return *end == '\0';
}

bool ParseSwitch(const std::string& text, const char* yes, const char* no, bool& out) {
  if (text == yes) out = true;
  else if (text == no) out = false;
  else return false;
  return true;
}

}  // namespace

bool Machine::WineKnob(const std::string& name, const std::string& value, std::string& error) {
  std::vector<std::vector<std::string>> steps;
  bool tolerate_failure = false;
  if (name == "scm" || name == "scm_opens_left") {
    error = "not on the Wine machine: " + name + " (its service manager is Wine's own)";
    return false;
  } else if (name == "driver") {
    if (value == "running") steps = {{"service", kDriverService, "start"}};
    else if (value == "stopped") steps = {{"service", kDriverService, "stop"}};
    else if (value == "absent") steps = {{"service", kDriverService, "delete"}};
  } else if (name == "driver_file") {
    if (value == "missing") {
      steps = {{"remove-driver-file"}};
    } else if (value == "present") {
      error = "not on the Wine machine: driver_file=present (the library installs the driver's file again)";
      return false;
    }
  } else if (name == "service") {
    uint32_t state = kServiceStopped;
    bool exists = false;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (ServiceRecord* s = Find(kCompanionService)) {
        exists = true;
        state = s->state;
      }
    }
    if (value == "running") {
      if (!exists) steps.push_back({"service", kCompanionService, "create"});
      steps.push_back({"service", kCompanionService, state == kServicePaused ? "continue" : "start"});
      if (exists && state == kServiceRunning) steps.clear();
    } else if (value == "paused") {
      steps = {{"service", kCompanionService, "pause"}};
    } else if (value == "stopped") {
      if (state != kServiceStopped) steps = {{"service", kCompanionService, "stop"}};
    } else if (value == "absent") {
      steps = {{"service", kCompanionService, "delete"}};
    }
  } else if (name == "mappings") {
    // A service that does not run holds no mappings; it makes them again
    // when it starts.
    tolerate_failure = true;
    if (value == "missing") steps = {{"control", kCompanionService, std::to_string(250)}};
    else if (value == "present") steps = {{"control", kCompanionService, std::to_string(251)}};
  }
  // The service reports the states a knob makes it go through; those are
  // the knob's, not the tool's, and stay out of the log.
  knob_in_progress_ = true;
  for (const auto& step : steps) {
    std::string output;
    if (!wine_(step, output, error) && !tolerate_failure) {
      knob_in_progress_ = false;
      return false;
    }
  }
  knob_in_progress_ = false;
  error.clear();
  return true;
}

std::map<std::string, std::string> Machine::WineRegistry() {
  std::map<std::string, std::string> values;
  std::string output, error;
  if (!wine_ || !wine_({"registry"}, output, error)) return values;
  std::stringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) values[ToLowerAscii(line.substr(0, tab))] = line.substr(tab + 1);
  }
  return values;
}

bool Machine::SetKnob(const std::string& name, const std::string& value, std::string& error) {
  if (wine_ && !WineKnob(name, value, error)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  int64_t n = 0;
  const bool number = ParseInt(value, n);
  bool ok = true;
  if (name == "scm") {
    ok = ParseSwitch(value, "on", "off", knobs_.scm_on);
  } else if (name == "scm_opens_left") {
    ok = number && n >= -1;
    if (ok) knobs_.scm_opens_left = static_cast<int>(n);
  } else if (name == "driver") {
    ServiceRecord* s = Find(kDriverService);
    if (value == "absent") {
      services_.erase("kvxio");
    } else if (value == "running" || value == "stopped") {
      if (!s) {
        services_["kvxio"] = DefaultDriverService();
        s = Find(kDriverService);
      }
      s->state = value == "running" ? kServiceRunning : kServiceStopped;
    } else {
      ok = false;
    }
  } else if (name == "driver_file") {
    ok = ParseSwitch(value, "present", "missing", knobs_.driver_file_present);
  } else if (name == "status_result") {
    ok = number;
    if (ok) knobs_.status_result = n;
  } else if (name == "status_byte") {
    if (value == "auto") knobs_.status_byte = -1;
    else if ((ok = number && n >= 0 && n <= 255)) knobs_.status_byte = static_cast<int>(n);
  } else if (name == "calling_interface") {
    bool works = true;
    ok = ParseSwitch(value, "ok", "fail", works);
    knobs_.calling_interface_fails = !works;
  } else if (name == "reply_length") {
    ok = number && n >= 0 && n <= 36;
    if (ok) knobs_.reply_length = static_cast<uint32_t>(n);
  } else if (name == "power_on" || name == "power_off") {
    bool works = true;
    ok = ParseSwitch(value, "ok", "fail", works);
    (name == "power_on" ? knobs_.power_on_fails : knobs_.power_off_fails) = !works;
  } else if (name == "power") {
    bool on = powered_;
    ok = ParseSwitch(value, "on", "off", on);
    powered_ = on;
    if (ok && !on) DeviceGone();
  } else if (name == "service") {
    ServiceRecord* s = Find(kCompanionService);
    if (value == "absent") {
      SetCompanionState(kServiceStopped);
      services_.erase("kvxmdes");
    } else if (value == "running" || value == "paused" || value == "stopped") {
      if (!s) services_["kvxmdes"] = DefaultCompanionService();
      SetCompanionState(value == "running"  ? kServiceRunning
                        : value == "paused" ? kServicePaused
                                            : kServiceStopped);
    } else {
      ok = false;
    }
  } else if (name == "refuse") {
    std::set<uint32_t> codes;
    if (value != "none") {
      std::stringstream list(value);
      std::string item;
      while (ok && std::getline(list, item, ',')) {
        int64_t c = 0;
        ok = ParseInt(item, c) && c >= 128 && c <= 255;
        codes.insert(static_cast<uint32_t>(c));
      }
    }
    if (ok) knobs_.refused_codes = codes;
  } else if (name == "mount_empty") {
    ok = ParseSwitch(value, "on", "off", knobs_.mount_leaves_empty_name);
  } else if (name == "mounts_not_answering") {
    ok = number && n >= 0;
    if (ok) knobs_.mounts_not_answering = static_cast<int>(n);
  } else if (name == "user_mutex_hold_ms") {
    ok = number && n >= 0 && n <= 600000;
    if (ok) knobs_.user_mutex_hold_ms = static_cast<int>(n);
  } else if (name == "mappings") {
    ok = ParseSwitch(value, "present", "missing", knobs_.mappings_present);
    if (ok && !knobs_.mappings_present) {
      CloseMappings();
    } else if (ok) {
      ServiceRecord* s = Find(kCompanionService);
      if (s && (s->state == kServiceRunning || s->state == kServicePaused)) OpenMappings();
    }
  } else if (name == "log") {
    ok = value == "clear";
    if (ok) log_.clear();
  } else {
    error = "unknown knob: " + name;
    return false;
  }
  if (!ok) error = "bad value for " + name + ": " + value;
  return ok;
}

std::string Machine::StateJson() {
  // Under Wine the registry is Wine's, read before the lock is taken.
  const std::map<std::string, std::string> registry = wine_ ? WineRegistry() : PosixRegistry(folder_).ReadAll();
  std::lock_guard<std::mutex> hold(lock_);
  std::ostringstream j;
  j << "{\n  \"machine\": " << Json(folder_) << ",\n  \"volume\": " << Json(volume_) << ",\n";
  j << "  \"module\": {\"power\": " << Json(powered_ ? "on" : "off") << ", \"mounted\": "
    << (mounted_ ? "true" : "false") << ", \"locked\": " << (locked_ ? "true" : "false")
    << ", \"device\": " << Json(mounted_ ? mount_name_ : "") << "},\n";
  j << "  \"services\": {";
  const char* sep = "";
  for (const auto& [key, s] : services_) {
    j << sep << "\n    " << Json(s.name) << ": {\"state\": " << Json(StateName(s.state))
      << ", \"type\": " << s.type << ", \"start_type\": " << s.start_type
      << ", \"image_path\": " << Json(s.image_path)
      << (s.marked_for_delete ? ", \"marked_for_delete\": true" : "") << "}";
    sep = ",";
  }
  j << "\n  },\n  \"scm_opens\": " << scm_opens_ << ",\n  \"drives\": {";
  sep = "";
  for (const auto& [name, target] : dos_devices_) {
    j << sep << Json(name) << ": " << Json(target);
    sep = ", ";
  }
  const ServiceRecord* companion = Find(kCompanionService);
  const bool wine_mappings = knobs_.mappings_present && companion &&
                             (companion->state == kServiceRunning || companion->state == kServicePaused);
  j << "},\n  \"mappings\": " << ((wine_ ? wine_mappings : mount_mapping_ != nullptr) ? "true" : "false")
    << ",\n  \"registry\": {";
  sep = "";
  for (const auto& [key, value] : registry) {
    j << sep << "\n    " << Json(key) << ": " << Json(value);
    sep = ",";
  }
  j << "\n  },\n  \"knobs\": {\"scm\": " << Json(knobs_.scm_on ? "on" : "off")
    << ", \"scm_opens_left\": " << knobs_.scm_opens_left
    << ", \"driver_file\": " << Json(knobs_.driver_file_present ? "present" : "missing")
    << ", \"status_result\": " << knobs_.status_result << ", \"status_byte\": "
    << (knobs_.status_byte < 0 ? Json("auto") : std::to_string(knobs_.status_byte))
    << ", \"calling_interface\": " << Json(knobs_.calling_interface_fails ? "fail" : "ok")
    << ", \"reply_length\": " << knobs_.reply_length
    << ", \"power_on\": " << Json(knobs_.power_on_fails ? "fail" : "ok")
    << ", \"power_off\": " << Json(knobs_.power_off_fails ? "fail" : "ok") << ", \"refuse\": [";
  sep = "";
  for (uint32_t c : knobs_.refused_codes) {
    j << sep << c;
    sep = ", ";
  }
  j << "], \"mount_empty\": " << Json(knobs_.mount_leaves_empty_name ? "on" : "off")
    << ", \"mounts_not_answering\": " << knobs_.mounts_not_answering
    << ", \"user_mutex_hold_ms\": " << knobs_.user_mutex_hold_ms
    << ", \"mappings\": " << Json(knobs_.mappings_present ? "present" : "missing") << "},\n";
  j << "  \"log\": [";
  sep = "";
  for (const std::string& entry : log_) {
    j << sep << "\n    " << Json(entry);
    sep = ",";
  }
  j << "\n  ]\n}\n";
  return j.str();
}

}  // namespace kvx::emu
