// The consoles' command line (Tavona and Pommet share it).
//
// Each argument is a switch letter, one separator character, then the value ("c:4", "h=ups1");
// "n" stands alone. A leading "-" or "/" before the letter is allowed, the letter's case is not
// significant. Letters the program does not know are ignored; any argument at all, known or
// not, makes the command line non-empty. The values of c, e, i, m and p are cut to 19
// characters, as the consoles always kept them; the texts (g, h, s) are kept whole. Nothing is
// read past the end of an argument: a letter alone has an empty value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace console {

inline constexpr size_t kMaxNumberValue = 19;

struct CommandLine {
  bool empty = true;      // no argument at all
  bool noSplash = false;  // n
  // The values as given (c, e, i, m, p already cut to 19 characters); nullopt when absent.
  std::optional<std::string> c, e, g, h, i, m, p, s;
  // What was wrong with the arguments, one line each, for the program to print: a value that is
  // not what its switch takes, a value that was cut. The arguments are still used as the rules
  // below say.
  std::vector<std::string> problems;
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);
CommandLine ParseCommandLine(int argc, char** argv);  // argv[0] is the program

// The communication mode of a c value: its decimal number, 3 for anything outside 0-5 (also for
// a value that is not a number). `fallback` when there is no c.
int CommModeOf(const std::optional<std::string>& value, int fallback);
// A decimal value (i, p, e): nullopt when absent, empty or not wholly a decimal number that fits.
std::optional<uint32_t> DecimalOf(const std::optional<std::string>& value);
// The IPX node of an m value: exactly 12 hexadecimal digits, two per byte, high digit first;
// nullopt otherwise.
std::optional<std::array<uint8_t, 6>> NodeOf(const std::optional<std::string>& value);

}  // namespace console
