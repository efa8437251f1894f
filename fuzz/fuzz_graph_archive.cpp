// Fuzzes the graph archive of data collection (the graphs and their series as the framework's
// archive holds them): any bytes give a whole graph object or none with the archive failed,
// never a read past the bytes; an object read is stored again and reads back to the same bytes.
#include <memory>
#include <vector>

#include "dialogs/widgets/graph_archive.h"
#include "dialogs/widgets/graph_base.h"
#include "dialogs/widgets/graph_data.h"
#include "fuzz/console_files.h"

using fuzz_console::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GraphArchive in(std::vector<uint8_t>(data, data + size));
  std::unique_ptr<KtGraphObject> object(in.ReadObject());
  if (object == nullptr) return 0;
  Check(!in.Failed());
  GraphArchive out;
  out.WriteObject(object.get());
  GraphArchive again(out.Bytes());
  std::unique_ptr<KtGraphObject> copy(again.ReadObject());
  Check(copy != nullptr && !again.Failed() && again.Remaining() == 0);
  GraphArchive twice;
  twice.WriteObject(copy.get());
  Check(twice.Bytes() == out.Bytes());
  if (auto* graph = dynamic_cast<KtGraphBase*>(copy.get())) {
    for (int i = 0; i < graph->SeriesCount(); ++i) Check(graph->Series(i) != nullptr);
  }
  return 0;
}
