#include "dialogs/discovery/subnet_file.h"

#include <span>
#include <vector>

#include "core/discovery/discover.h"
#include "platform/record_file.h"

int ReadSubnetFile(KT_Discover& discover, const std::string& path) {
  std::vector<uint8_t> bytes;
  // A missing, unreadable or oversized file (or something that is no regular file) adds nothing.
  if (!platform::RecordFile::Read(path, bytes)) return 0;
  std::string line;
  auto flush = [&] {
    // The list keeps each subnet as a C string: a zero byte ends its text, and a line that is
    // empty then adds nothing (not an empty subnet that no search can reach).
    line.resize(std::char_traits<char>::length(line.c_str()));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) discover.AddSubnet(line.c_str());
    line.clear();
  };
  for (const uint8_t byte : bytes) {
    const char c = static_cast<char>(byte);
    if (c == '\n') {
      flush();
      continue;
    }
    line.push_back(c);
    if (static_cast<int>(line.size()) >= kSubnetLineLimit) flush();
  }
  flush();
  return 0;
}

int WriteSubnetFile(KT_Discover& discover, const std::string& path) {
  std::string text;
  std::string subnet;
  discover.ResetSubnetCursor();
  while (discover.GetNextSubnet(subnet)) text += subnet + '\n';
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  return platform::RecordFile::Replace(path, std::span<const uint8_t>(data, text.size())) ? 1 : 0;
}
