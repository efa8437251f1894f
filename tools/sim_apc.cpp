#include "tools/sim_apc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace upssim {

namespace {

const char* const kDelays[] = {"020", "180", "300", "600"};
constexpr size_t kDelayCount = sizeof kDelays / sizeof kDelays[0];

const char* const kValueKeys[] = {"model",           "serial",      "input-voltage", "output-voltage",
                                  "battery-voltage", "temperature", "frequency",     "load"};

// ^A: the UPS answers with its model name.
constexpr char kModelNameCommand = '\x01';

// The name of a model by the first character of its "V" answer.
struct ModelName {
  char code;
  const char* name;
};
constexpr ModelName kModelNames[] = {{'3', "Smart-UPS 370ci"},
                                     {'6', "Smart-UPS 600"},
                                     {'7', "Smart-UPS 900"},
                                     {'8', "Smart-UPS 1250"},
                                     {'9', "Smart-UPS 2000"}};

bool IsValueKey(const std::string& key) {
  for (const char* k : kValueKeys) {
    if (key == k) return true;
  }
  return false;
}

}  // namespace

ApcSmartUps::ApcSmartUps() {
  values_ = {
      {"model", "8QT"},
      {"serial", "SN123456"},
      {"input-voltage", "230.4"},
      {"output-voltage", "230.4"},
      {"battery-voltage", "27.54"},
      {"temperature", "031.5"},
      {"frequency", "50.00"},
      {"load", "025.0"},
  };
}

std::string ApcSmartUps::ModelNameText() const {
  if (!name_.empty()) return name_;
  const std::string& model = values_.at("model");
  for (const ModelName& m : kModelNames) {
    if (!model.empty() && model[0] == m.code) return m.name;
  }
  return "Smart-UPS";
}

bool ApcSmartUps::LineIsRight(SimContext& ctx) {
  const platform::LineSettings line = ctx.Line();
  return line.bps == kBps && line.data_bits == 8 && line.parity == platform::Parity::kNone;
}

void ApcSmartUps::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  if (!LineIsRight(ctx)) {
    ctx.Log("IGNORED", HexBytes(data, size) + " at " + LineText(ctx.Line()));
    return;
  }
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (!at_command_.empty()) {
      if (c >= '0' && c <= '9') {
        at_command_ += c;
        if (at_command_.size() == 4) {
          std::string command;
          command.swap(at_command_);
          Command(ctx, command);
        }
        continue;
      }
      // An incomplete "@" command is dropped; the byte is a command of its own.
      ctx.Log("REQ", Printable(at_command_) + " (incomplete)");
      at_command_.clear();
      Answer(ctx, "@", "NA");
    }
    if (c == '@') {
      at_command_ = "@";
      continue;
    }
    Command(ctx, std::string(1, c));
  }
}

void ApcSmartUps::Answer(SimContext& ctx, const std::string& command, const std::string& text) {
  const std::string key = command.substr(0, 1);
  auto it = overrides_.find(key);
  if (it != overrides_.end()) {
    if (!it->second.empty()) ctx.Send(it->second);
    return;
  }
  if (!text.empty()) ctx.Send(text + "\r\n");
}

std::string ApcSmartUps::StatusRegister(const UpsState& s) const {
  unsigned reg = 0;
  if (s.mains_ok) reg |= 0x08;
  if (!s.mains_ok) reg |= 0x10;
  if (s.overload) reg |= 0x20;
  if (s.battery_low) reg |= 0x40;
  if (s.replace_battery) reg |= 0x80;
  if (s.boost) reg |= 0x04;
  char text[8];
  std::snprintf(text, sizeof text, "%02X", reg);
  return text;
}

void ApcSmartUps::ScheduleOff(SimContext& ctx, const std::string& why) {
  const int seconds = std::atoi(kDelays[delay_index_]);
  ctx.Log("ACTION", why + ": output off in " + std::to_string(seconds) + " s");
  ctx.After(seconds * second_ms_, [this, &ctx]() {
    output_on_ = false;
    ctx.Log("ACTION", "output off");
    if (ctx.State().mains_ok) {
      output_on_ = true;
      ctx.Log("ACTION", "output on (mains present)");
    }
  });
}

void ApcSmartUps::Command(SimContext& ctx, const std::string& command) {
  ctx.Log("REQ", Printable(command));
  const UpsState& s = ctx.State();
  const char c = command[0];
  const std::string previous = last_command_;
  last_command_ = command;
  switch (c) {
    case 'Y': Answer(ctx, command, "SM"); return;
    case 'V': Answer(ctx, command, values_["model"]); return;
    case 'n': Answer(ctx, command, values_["serial"]); return;
    case 'Q': Answer(ctx, command, StatusRegister(s)); return;
    case 'L': Answer(ctx, command, s.mains_ok ? values_["input-voltage"] : "000.0"); return;
    case 'O': Answer(ctx, command, output_on_ ? values_["output-voltage"] : "000.0"); return;
    case 'B': Answer(ctx, command, values_["battery-voltage"]); return;
    case 'C': Answer(ctx, command, values_["temperature"]); return;
    case 'F': Answer(ctx, command, values_["frequency"]); return;
    case 'P': Answer(ctx, command, s.overload ? "110.0" : values_["load"]); return;
    case kModelNameCommand:
      Answer(ctx, command, ModelNameText());
      return;
    case 'f':
    case 'j': {
      battery_.Advance(!s.mains_ok);
      char text[16];
      if (c == 'f') {
        std::snprintf(text, sizeof text, "%05.1f", battery_.Percent(s.battery_low));
      } else {
        // The run time in whole minutes.
        std::snprintf(text, sizeof text,
                      "%04ld:", std::lround(battery_.RuntimeSeconds(s.battery_low) / 60.0));
      }
      Answer(ctx, command, text);
      return;
    }
    case 'W':
      test_running_ = true;
      test_polls_left_ = test_polls_;
      ctx.Log("ACTION", "self-test started");
      Answer(ctx, command, "OK");
      return;
    case 'X':
      if (test_running_) {
        if (test_polls_left_ > 0) {
          --test_polls_left_;
          Answer(ctx, command, "NO");
          return;
        }
        test_running_ = false;
        test_result_ = test_outcome_;
        ctx.Log("ACTION", "self-test finished: " + test_result_);
      }
      Answer(ctx, command, test_result_);
      return;
    case 'p': Answer(ctx, command, kDelays[delay_index_]); return;
    case '-':
      if (previous == "p") {
        delay_index_ = (delay_index_ + 1) % kDelayCount;
        last_command_ = "p";  // further "-" keys keep stepping the same setting
        ctx.Log("ACTION", std::string("shutdown delay set to ") + kDelays[delay_index_]);
        Answer(ctx, command, "");
      } else {
        Answer(ctx, command, "NA");
      }
      return;
    case 'S':
      ScheduleOff(ctx, "shutdown");
      Answer(ctx, command, "OK");
      return;
    case '@': {
      const int tenths = std::atoi(command.c_str() + 1);
      ScheduleOff(ctx, "shutdown and return " + std::to_string(tenths) + " tenths of an hour later");
      const int seconds = std::atoi(kDelays[delay_index_]) + tenths * 360;
      ctx.After(seconds * second_ms_, [this, &ctx]() {
        if (!output_on_) {
          output_on_ = true;
          ctx.Log("ACTION", "output on (return delay over)");
        }
      });
      Answer(ctx, command, "*");
      return;
    }
    default:
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) return;
      Answer(ctx, command, "NA");
      return;
  }
}

uint32_t ApcSmartUps::DeviceLines(const UpsState&, uint32_t host_lines) const {
  // The computer's cable loops RTS back to CTS; the UPS drives nothing else.
  return (host_lines & platform::kLineRts) ? platform::kLineCts : 0;
}

void ApcSmartUps::OnStateChanged(SimContext& ctx, const UpsState& before) {
  battery_.Advance(!before.mains_ok);
  const UpsState& now = ctx.State();
  if (before.mains_ok == now.mains_ok) return;
  if (LineIsRight(ctx)) ctx.Send(now.mains_ok ? "$" : "!");
  if (now.mains_ok && !output_on_) {
    output_on_ = true;
    ctx.Log("ACTION", "output on (mains returned)");
  }
}

bool ApcSmartUps::Control(SimContext& ctx, const std::vector<std::string>& w, std::string* error,
                          std::vector<std::string>* lines) {
  if (w.empty()) return false;
  if (w[0] == "set") {
    if (w.size() >= 3 && w[1] == "name") {
      name_ = w[2];
      for (size_t i = 3; i < w.size(); ++i) name_ += " " + w[i];
      return true;
    }
    long v = 0;
    if (w.size() == 3 && (w[1] == "capacity" || w[1] == "runtime")) {
      if (!ParseNumber(w[2], w[1] == "capacity" ? 0 : 1, w[1] == "capacity" ? 100 : 9999, &v)) {
        *error =
            w[1] == "capacity" ? "capacity: percent 0..100" : "runtime: minutes of a full battery, 1..9999";
        return true;
      }
      battery_.Advance(!ctx.State().mains_ok);
      if (w[1] == "capacity") {
        battery_.SetPercent(static_cast<double>(v));
      } else {
        battery_.SetFullRuntime(static_cast<int>(v) * 60);
      }
      return true;
    }
    if (w.size() != 3 || !IsValueKey(w[1])) {
      *error =
          "usage: set model|serial|input-voltage|output-voltage|battery-voltage|"
          "temperature|frequency|load VALUE | set capacity PERCENT | set runtime MINUTES | set name TEXT";
      return true;
    }
    values_[w[1]] = w[2];
    return true;
  }
  if (w[0] == "reply" || w[0] == "reply-raw") {
    if (w.size() < 3 || w[1].empty()) {
      *error = "usage: reply COMMAND TEXT|none|default (reply adds CR LF, reply-raw sends TEXT as is)";
      return true;
    }
    const std::string key = w[1].substr(0, 1);
    std::string text;
    for (size_t i = 2; i < w.size(); ++i) text += (i > 2 ? " " : "") + w[i];
    if (text == "default") {
      overrides_.erase(key);
      return true;
    }
    if (text == "none") {
      overrides_[key] = "";
      return true;
    }
    std::string bytes;
    if (!Unescape(text, &bytes)) {
      *error = "bad escape in " + text;
      return true;
    }
    overrides_[key] = (w[0] == "reply") ? bytes + "\r\n" : bytes;
    return true;
  }
  if (w[0] == "second") {
    long ms = 0;
    if (w.size() != 2 || !ParseNumber(w[1], 1, 1000, &ms)) {
      *error = "usage: second MS (1..1000: how long one second of the UPS's delays lasts)";
      return true;
    }
    second_ms_ = static_cast<int>(ms);
    return true;
  }
  if (w[0] == "selftest") {
    if (w.size() < 2 || w.size() > 3 || (w[1] != "OK" && w[1] != "BT" && w[1] != "NG")) {
      *error = "usage: selftest OK|BT|NG [POLLS]";
      return true;
    }
    test_outcome_ = w[1];
    if (w.size() == 3) {
      long polls = 0;
      if (!ParseNumber(w[2], 0, 1000, &polls)) {
        *error = "POLLS must be 0..1000";
        return true;
      }
      test_polls_ = static_cast<int>(polls);
    }
    return true;
  }
  (void)lines;
  return false;
}

std::string ApcSmartUps::Describe() const {
  std::string d = "model=" + values_.at("model") + " serial=" + values_.at("serial") +
                  " delay=" + kDelays[delay_index_] + " selftest=" + (test_running_ ? "running" : "idle") +
                  " result=" + test_result_ + " output=" + (output_on_ ? "on" : "off") + " name=\"" +
                  ModelNameText() +
                  "\" battery=" + std::to_string(static_cast<int>(battery_.Percent(false))) + "%";
  return d;
}

}  // namespace upssim
