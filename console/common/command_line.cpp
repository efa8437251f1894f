#include "console/common/command_line.h"

#include <cctype>

namespace console {

namespace {

bool IsNumberSwitch(char letter) {
  return letter == 'c' || letter == 'e' || letter == 'i' || letter == 'm' || letter == 'p';
}

std::optional<std::string>* Slot(CommandLine& line, char letter) {
  switch (letter) {
    case 'c':
      return &line.c;
    case 'e':
      return &line.e;
    case 'g':
      return &line.g;
    case 'h':
      return &line.h;
    case 'i':
      return &line.i;
    case 'm':
      return &line.m;
    case 'p':
      return &line.p;
    case 's':
      return &line.s;
    default:
      return nullptr;
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (const std::string& arg : args) {
    line.empty = false;
    size_t at = 0;
    if (at < arg.size() && (arg[at] == '-' || arg[at] == '/')) ++at;
    if (at >= arg.size()) {
      line.problems.push_back("ignored argument \"" + arg + "\": no switch letter");
      continue;
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[at])));
    ++at;
    if (letter == 'n') {
      line.noSplash = true;
      continue;
    }
    std::optional<std::string>* slot = Slot(line, letter);
    if (slot == nullptr) {
      line.problems.push_back("ignored argument \"" + arg + "\": unknown switch");
      continue;
    }
    // One separator character, whatever it is, then the value to the argument's end.
    std::string value = at < arg.size() ? arg.substr(at + 1) : std::string();
    if (IsNumberSwitch(letter) && value.size() > kMaxNumberValue) {
      line.problems.push_back(std::string("value of ") + letter + " cut to " +
                              std::to_string(kMaxNumberValue) + " characters");
      value.resize(kMaxNumberValue);
    }
    *slot = std::move(value);
  }
  if (line.c && !DecimalOf(line.c)) line.problems.push_back("c:" + *line.c + " is not a mode number: mode 3");
  if (line.m && !NodeOf(line.m)) line.problems.push_back("m:" + *line.m + " is not 12 hexadecimal digits");
  for (const auto* v : {&line.e, &line.i, &line.p}) {
    if (*v && !DecimalOf(*v)) line.problems.push_back("\"" + **v + "\" is not a decimal number");
  }
  return line;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  std::vector<std::string> args;
  for (int k = 1; k < argc; ++k) args.emplace_back(argv[k] != nullptr ? argv[k] : "");
  return ParseCommandLine(args);
}

std::optional<uint32_t> DecimalOf(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  uint64_t n = 0;
  for (char ch : *value) {
    if (ch < '0' || ch > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(ch - '0');
    if (n > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(n);
}

int CommModeOf(const std::optional<std::string>& value, int fallback) {
  if (!value) return fallback;
  const std::optional<uint32_t> n = DecimalOf(value);
  return n && *n <= 5 ? static_cast<int>(*n) : 3;
}

std::optional<std::array<uint8_t, 6>> NodeOf(const std::optional<std::string>& value) {
  if (!value || value->size() != 12) return std::nullopt;
  std::array<uint8_t, 6> node{};
  for (size_t k = 0; k < 12; ++k) {
    const char ch = (*value)[k];
    int digit;
    if (ch >= '0' && ch <= '9')
      digit = ch - '0';
    else if (ch >= 'A' && ch <= 'F')
      digit = ch - 'A' + 10;
    else if (ch >= 'a' && ch <= 'f')
      digit = ch - 'a' + 10;
    else
      return std::nullopt;
    node[k / 2] = static_cast<uint8_t>(node[k / 2] << 4 | digit);
  }
  return node;
}

}  // namespace console
