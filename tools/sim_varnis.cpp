#include "tools/sim_varnis.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace upssim {

namespace {

constexpr size_t kMaxLine = 256;
constexpr uint8_t kFrameStart = 0x80;
constexpr const char* kConfirmCode = "TOVRABSENK";

bool TakesArgument(const std::string& word) {
  static const char* const kWords[] = {"UPSN", "UPBT", "UPCD", "UPSD", "UPPC", "UPPD",
                                       "UPPF", "UPPN", "UPLR", "UPLC", "UPPM"};
  for (const char* w : kWords) {
    if (word == w) return true;
  }
  return false;
}

std::string Flag(bool on) { return on ? "11" : "00"; }

}  // namespace

VarnisUps::VarnisUps() : capabilities_({"UPBT", "UPIS", "UPSD", "UPCD", "UPPC", "UP??"}) {}

bool VarnisUps::LineIsRight(SimContext& ctx) {
  const platform::LineSettings line = ctx.Line();
  return line.bps == kBps && line.data_bits == 8 && line.parity == platform::Parity::kNone;
}

uint32_t VarnisUps::DeviceLines(const UpsState&, uint32_t host_lines) const {
  // The computer's cable loops RTS back to CTS.
  return (host_lines & platform::kLineRts) ? platform::kLineCts : 0;
}

void VarnisUps::OnBytes(SimContext& ctx, const uint8_t* data, size_t size) {
  if (!LineIsRight(ctx)) {
    ctx.Log("IGNORED", HexBytes(data, size) + " at " + LineText(ctx.Line()));
    return;
  }
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (!frame_.empty()) {
      frame_.push_back(b);
      if (frame_.size() >= 3 && frame_.size() == static_cast<size_t>(frame_[2]) + 4) {
        std::vector<uint8_t> f;
        f.swap(frame_);
        Binary(ctx, f);
      }
      continue;
    }
    if (b == kFrameStart && line_.empty() && pending_.empty()) {
      frame_.push_back(b);
      continue;
    }
    if (b == '\r') {
      std::string l;
      l.swap(line_);
      if (!l.empty()) Line(ctx, l);
      continue;
    }
    if (b == '\n') continue;
    if (line_.size() < kMaxLine) line_ += static_cast<char>(b);
  }
}

void VarnisUps::Line(SimContext& ctx, const std::string& line) {
  if (!pending_.empty()) {
    std::string word;
    word.swap(pending_);
    Command(ctx, word, line);
    return;
  }
  // The battery test of some models carries its argument on the same line.
  if (line.size() > 4 && line.compare(0, 4, "UPBT") == 0) {
    Command(ctx, "UPBT", line.substr(4));
    return;
  }
  if (TakesArgument(line)) {
    pending_ = line;
    return;
  }
  Command(ctx, line, "");
}

void VarnisUps::Answer(SimContext& ctx, const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out;
  for (const auto& [key, value] : pairs) out += key + "\r" + value + "\r";
  ctx.Send(out);
}

void VarnisUps::Command(SimContext& ctx, const std::string& word, const std::string& argument) {
  ctx.Log("REQ", Printable(word) + (argument.empty() && !TakesArgument(word) ? "" : " " + Printable(argument)));
  const UpsState& s = ctx.State();
  if (word == "UPTP") {
    Answer(ctx, {{"NNAME", name_}, {"NOUNN", "230.0"}, {"NIUNN", "230.0"}, {"NOSNN", "1.50"},
                 {"NOPNN", "1.05"}, {"NOFHH", "50.0"}});
  } else if (word == "UPSN") {
    Answer(ctx, {{"ACSN", serial_}});
  } else if (word == "UPDV") {
    Answer(ctx, {{"NOUHH", "253.0"}, {"NOULL", "207.0"}, {"NIUHH", "264.0"}, {"NIULL", "184.0"}});
  } else if (word == "UPDS") {
    const bool on = output_on_;
    battery_.Advance(!s.mains_ok);
    // The charge in percent, the run time left in whole seconds.
    char charge[16];
    char runtime[16];
    std::snprintf(charge, sizeof charge, "%.1f", battery_.Percent(s.battery_low));
    std::snprintf(runtime, sizeof runtime, "%d.0", static_cast<int>(battery_.RuntimeSeconds(s.battery_low)));
    Answer(ctx, {{"MIUL1", s.mains_ok ? "231.0" : "0.0"},
                 {"MOUL1", on ? "230.0" : "0.0"},
                 {"MOFFF", "50.0"},
                 {"MOIL1", on ? (s.overload ? "7.1" : "1.9") : "0.0"},
                 {"MOPL1", on ? (s.overload ? "1.20" : "0.38") : "0.00"},
                 {"MOSL1", on ? (s.overload ? "1.65" : "0.45") : "0.00"},
                 {"MBUUU", "27.0"},
                 {"MBCH1", charge},
                 {"BTIME", runtime},
                 {"MUTE1", "31.0"}});
  } else if (word == "UPSS") {
    const bool alarm = !s.mains_ok || s.battery_low || s.overload || s.replace_battery || bypass_;
    std::string fault = "OK";
    if (s.replace_battery) fault = "BR";
    if (s.overload) fault = "OL";
    Answer(ctx, {{"STOK", Flag(alarm)},
                 {"STBO", Flag(!s.mains_ok)},
                 {"STBL", Flag(s.battery_low)},
                 {"STBP", Flag(bypass_)},
                 {"STBM", s.mains_ok ? "C" : "D"},
                 {"STLR", s.boost ? "SU" : "N"},
                 {"STAT", fault}});
  } else if (word == "UPCL") {
    std::string out;
    for (const std::string& c : capabilities_) out += c + "\r";
    ctx.Send(out);
  } else if (word == "UPIS" || word == "UPBT") {
    test_running_ = true;
    ctx.Log("ACTION", "general systems test started");
    ctx.After(5000, [this, &ctx]() {
      test_running_ = false;
      ctx.Log("ACTION", "general systems test finished");
    });
  } else if (word == "UPSD" || word == "UPCD") {
    long v = 0;
    if (!ParseNumber(argument, 0, 999, &v)) {
      ctx.Log("ACTION", word + " refused: bad delay " + Printable(argument));
      return;
    }
    (word == "UPSD" ? shutdown_delay_ : second_delay_) = static_cast<int>(v);
    Answer(ctx, {{word == "UPSD" ? "ACSD" : "ACCD", argument}});
  } else if (word == "UPPC") {
    if (argument != kConfirmCode || shutdown_delay_ < 0) {
      ctx.Log("ACTION", "shutdown refused (" + std::string(shutdown_delay_ < 0 ? "no delay set" : "wrong code") + ")");
      return;
    }
    const int delay = shutdown_delay_;
    ctx.Log("ACTION", "shutdown: output off in " + std::to_string(delay) + " s");
    shutdown_delay_ = -1;
    ctx.After(delay * 1000, [this, &ctx]() {
      if (!output_on_) return;
      output_on_ = false;
      ctx.Log("ACTION", "output off");
    });
  } else {
    ctx.Log("ACTION", "not understood: " + Printable(word));
  }
}

void VarnisUps::Binary(SimContext& ctx, const std::vector<uint8_t>& f) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
  ctx.Log("REQ", "frame " + HexBytes(f.data(), f.size()));
  if (static_cast<uint8_t>(sum & 0xFF) != f.back()) {
    ctx.Log("ACTION", "frame refused: bad sum");
    return;
  }
  const uint8_t command = f[1];
  const size_t n = f[2];
  if (command == 0) {
    std::vector<uint8_t> reply = {kFrameStart, 0, 1, static_cast<uint8_t>(segments_)};
    unsigned s = 0;
    for (uint8_t b : reply) s += b;
    reply.push_back(static_cast<uint8_t>(s & 0xFF));
    ctx.Send(std::string(reply.begin(), reply.end()));
    return;
  }
  if (echo_fail_ > 0) {
    --echo_fail_;
    ctx.Log("ACTION", "frame not echoed (echo-fail)");
    return;
  }
  const int segment = n >= 1 ? f[3] : -1;
  const int value = n >= 3 ? (f[4] << 8) | f[5] : 0;
  std::string what;
  switch (command) {
    case 2: what = "segment " + std::to_string(segment) + " off in " + std::to_string(value) + " min"; break;
    case 3: what = "segment " + std::to_string(segment) + " on in " + std::to_string(value) + " min"; break;
    case 4: what = "segment " + std::to_string(segment) + " off on utility failure in " + std::to_string(value / 2) + " s"; break;
    case 5: what = "segment " + std::to_string(segment) + " restart delay " + std::to_string(value / 2) + " s"; break;
    case 6: what = "segment " + std::to_string(segment) + " on now"; break;
    case 7: what = "segment " + std::to_string(segment) + " armed"; break;
    default: what = "command " + std::to_string(command); break;
  }
  ctx.Log("ACTION", what);
  ctx.Send(std::string(f.begin(), f.end()));
}

void VarnisUps::OnStateChanged(SimContext& ctx, const UpsState& before) {
  battery_.Advance(!before.mains_ok);
  if (!before.mains_ok && ctx.State().mains_ok && !output_on_) {
    output_on_ = true;
    ctx.Log("ACTION", "output on (mains returned)");
  }
}

bool VarnisUps::Control(SimContext& ctx, const std::vector<std::string>& w, std::string* error,
                        std::vector<std::string>* lines) {
  (void)lines;
  if (w.empty()) return false;
  if (w[0] == "set" && w.size() == 3 && (w[1] == "capacity" || w[1] == "runtime")) {
    long v = 0;
    if (!ParseNumber(w[2], w[1] == "capacity" ? 0 : 1, w[1] == "capacity" ? 100 : 65535, &v)) {
      *error =
          w[1] == "capacity" ? "capacity: percent 0..100" : "runtime: seconds of a full battery, 1..65535";
      return true;
    }
    battery_.Advance(!ctx.State().mains_ok);
    if (w[1] == "capacity") {
      battery_.SetPercent(static_cast<double>(v));
    } else {
      battery_.SetFullRuntime(static_cast<int>(v));
    }
    return true;
  }
  if (w[0] == "set") {
    if (w.size() < 3 || (w[1] != "name" && w[1] != "serial")) {
      *error = "usage: set name|serial TEXT | set capacity PERCENT | set runtime SECONDS";
      return true;
    }
    std::string text = w[2];
    for (size_t i = 3; i < w.size(); ++i) text += " " + w[i];
    (w[1] == "name" ? name_ : serial_) = text;
    return true;
  }
  if (w[0] == "capabilities") {
    capabilities_.clear();
    if (w.size() == 2 && w[1] != "none") {
      std::stringstream in(w[1]);
      std::string item;
      while (std::getline(in, item, ',')) {
        if (!item.empty()) capabilities_.push_back(item);
      }
    } else if (w.size() != 2) {
      *error = "usage: capabilities WORD,WORD,...|none";
    }
    return true;
  }
  if (w[0] == "segments" || w[0] == "echo-fail") {
    long v = 0;
    if (w.size() != 2 || !ParseNumber(w[1], 0, 255, &v)) {
      *error = "usage: " + w[0] + " 0..255";
    } else {
      (w[0] == "segments" ? segments_ : echo_fail_) = static_cast<int>(v);
    }
    return true;
  }
  if (w[0] == "bypass") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) {
      *error = "usage: bypass on|off";
    } else {
      bypass_ = w[1] == "on";
    }
    return true;
  }
  return false;
}

std::string VarnisUps::Describe() const {
  std::string caps;
  for (const std::string& c : capabilities_) caps += (caps.empty() ? "" : ",") + c;
  return "name=\"" + name_ + "\" serial=" + serial_ + " capabilities=" + (caps.empty() ? "none" : caps) +
         " segments=" + std::to_string(segments_) + " output=" + (output_on_ ? "on" : "off") +
         " test=" + (test_running_ ? "running" : "idle");
}

}  // namespace upssim
