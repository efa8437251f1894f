// "cfsubnet.dat": the subnets a discovery search covers, one per line, each the subnet's
// dotted broadcast address followed by a newline. Every dialog that keeps a subnet list reads
// and writes it through these two functions.
//
// Reading adds each line to the discovery object's list with AddSubnet, which puts it at the
// head, so a file read and saved again comes out in reverse line order. Only the newline (and
// a carriage return before it) is dropped: a last line without a newline is read whole. Lines
// longer than 80 characters are read as several; a zero byte ends a line's text; empty lines
// are skipped.
#pragma once

#include <string>

class KT_Discover;

inline constexpr const char* kSubnetFileName = "cfsubnet.dat";
inline constexpr int kSubnetLineLimit = 80;

// Adds the file's subnets to the list. A missing file is no error. 0.
int ReadSubnetFile(KT_Discover& discover, const std::string& path = kSubnetFileName);
// Writes the list anew, head first, "%s\n" per subnet (atomically: a temporary file renamed
// over the old one). 1, or 0 when the file cannot be written.
int WriteSubnetFile(KT_Discover& discover, const std::string& path = kSubnetFileName);
