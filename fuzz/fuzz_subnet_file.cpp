// Fuzzes the reader of "cfsubnet.dat", the subnets a discovery search covers: any bytes give a
// list of subnets of 1 to 80 characters without a line end, no more than the file has lines
// and pieces; the list written out and read twice (each read reverses it) comes back the same
// (unless a subnet ends in a carriage return).
#include <string>
#include <vector>

#include "core/discovery/discover.h"
#include "dialogs/discovery/subnet_file.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

namespace {

std::vector<std::string> Subnets(KT_Discover& discover) {
  std::vector<std::string> out;
  std::string subnet;
  discover.ResetSubnetCursor();
  while (discover.GetNextSubnet(subnet)) out.push_back(subnet);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_console::WriteInput(kSubnetFileName, data, size);
  KT_Discover discover;
  Check(ReadSubnetFile(discover, path) == 0);
  const std::vector<std::string> read = Subnets(discover);
  Check(read.size() <= size);
  for (const std::string& subnet : read) {
    Check(!subnet.empty() && subnet.size() <= static_cast<size_t>(kSubnetLineLimit));
    Check(subnet.find('\n') == std::string::npos);
  }
  // What was read survives a save: written, read back (reversed), written and read again.
  Check(WriteSubnetFile(discover, path) == 1);
  KT_Discover once;
  ReadSubnetFile(once, path);
  Check(WriteSubnetFile(once, path) == 1);
  KT_Discover twice;
  ReadSubnetFile(twice, path);
  // A subnet that ends in a carriage return (no address does) loses it: a line's last one is
  // taken for its line end.
  bool endsInReturn = false;
  for (const std::string& subnet : read) endsInReturn = endsInReturn || subnet.back() == '\r';
  if (!endsInReturn) Check(Subnets(twice) == read);
  return 0;
}
