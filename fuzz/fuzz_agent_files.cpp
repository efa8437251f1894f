// The agent's record-file readers on arbitrary file contents: every file either decodes or is
// refused with its block left as it was, and nothing is read past the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "platform/system_log.h"

namespace {

class Services : public KT_OSServices {
 public:
  using KT_OSServices::KT_OSServices;
  void ReportFileProblem(const std::string&) override {}
};

// The folder the record files are written in, removed when the run ends.
char gFolder[] = "/tmp/fuzz_agent_files.XXXXXX";

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    if (mkdtemp(gFolder) == nullptr || chdir(gFolder) != 0) std::abort();
    std::atexit(RemoveFolder);
    platform::SetSystemLogSink([](std::string_view, platform::LogEntryType, std::string_view) {});
    return true;
  }();
  (void)ready;
  if (size == 0) return 0;
  static KT_SCP scp;
  static Services services(scp);
  const AgentFile file = static_cast<AgentFile>(data[0] % kAgentFileCount);
  const std::string name = services.FileName(file);
  platform::RecordFile::Replace(name, std::span<const uint8_t>(data + 1, size - 1));
  if (services.ReadAgentFile(file) == 1) {
    // What was read can be written back.
    if (services.WriteAgentFile(file) != 1) std::abort();
  }
  return 0;
}
