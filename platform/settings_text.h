// Small text helpers shared by the parsers of the "key = value" settings files.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text without the UTF-8 byte-order mark that some editors put at the start of a file.
std::string_view WithoutByteOrderMark(std::string_view text);

// The text without leading and trailing blanks and tabs.
std::string_view TrimBlanks(std::string_view s);

// ASCII lower case (settings keys and yes/no words are ASCII).
std::string LowerAscii(std::string_view s);

// Control characters other than TAB (which counts as a blank).
bool HasControlCharacter(std::string_view s);

// "yes"/"no" and their usual synonyms (1/0, true/false, on/off), in any case.
bool ParseYesNo(std::string_view s, bool& out);

}  // namespace platform
