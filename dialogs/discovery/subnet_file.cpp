#include "dialogs/discovery/subnet_file.h"

#include <cstdio>
#include <fstream>

#include "core/discovery/discover.h"

int ReadSubnetFile(KT_Discover& discover, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::string line;
  char c;
  auto flush = [&] {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) discover.AddSubnet(line.c_str());
    line.clear();
  };
  while (in.get(c)) {
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
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return 0;
    std::string subnet;
    discover.ResetSubnetCursor();
    while (discover.GetNextSubnet(subnet)) out << subnet << '\n';
    out.flush();
    if (!out) {
      out.close();
      std::remove(temp.c_str());
      return 0;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return 0;
  }
  return 1;
}
