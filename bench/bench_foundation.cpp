// Costs of the foundation's frequent operations: a trace insertion with output off (formatting
// only), a named-mutex take and release, an event set and wait, and the atomic replacement and
// reading of a small record file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/base/ktdiag.h"
#include "core/base/setup_data.h"
#include "platform/named_object.h"
#include "platform/record_file.h"

namespace {

// The bench's named objects go under a prefix of its own, ended by a '.' so that no other run's
// prefix begins with it, away from those of an agent on this computer (the trace's mapping, the
// objects' lock file); their files go at its end.
const std::string& NamePrefix() {
  static const std::string prefix = "bench" + std::to_string(::getpid()) + ".";
  return prefix;
}

void RemoveNamedObjects() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    if (entry.path().filename().string().rfind(NamePrefix(), 0) == 0) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

[[maybe_unused]] const bool kOwnPrefix = [] {
  ::setenv(platform::kNamePrefixVariable, NamePrefix().c_str(), 1);
  std::atexit(RemoveNamedObjects);
  return true;
}();

std::string BenchName(const char* stem) {
  return std::string("bench-") + stem + "-" + std::to_string(::getpid());
}

void BM_TraceOutputOff(benchmark::State& state) {
  KtDiag::EnableOutput(false);
  for (auto _ : state) Diag() << "Detection of UPS took " << 3 << " seconds\n";
}
BENCHMARK(BM_TraceOutputOff);

void BM_NamedMutexTakeRelease(benchmark::State& state) {
  platform::NamedMutex m;
  if (!m.Create(BenchName("mutex"))) {
    state.SkipWithError("cannot create the mutex");
    return;
  }
  for (auto _ : state) {
    m.Wait(platform::kInfinite);
    m.Release();
  }
}
BENCHMARK(BM_NamedMutexTakeRelease);

void BM_NamedEventSetWait(benchmark::State& state) {
  platform::NamedEvent ev;
  if (!ev.Create(BenchName("event"), false, false)) {
    state.SkipWithError("cannot create the event");
    return;
  }
  for (auto _ : state) {
    ev.Set();
    benchmark::DoNotOptimize(ev.Wait(0));
  }
}
BENCHMARK(BM_NamedEventSetWait);

void BM_NamedMutexReopenInProcess(benchmark::State& state) {
  const std::string name = BenchName("open");
  platform::NamedMutex keep;
  keep.Create(name);
  for (auto _ : state) {
    platform::NamedMutex m;
    benchmark::DoNotOptimize(m.Open(name));
  }
}
BENCHMARK(BM_NamedMutexReopenInProcess);

void BM_RecordReplaceAndRead(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / BenchName("files");
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "config.dat").string();
  const std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  std::vector<uint8_t> back;
  for (auto _ : state) {
    platform::RecordFile::Replace(path, data);
    platform::RecordFile::Read(path, back);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecordReplaceAndRead)->Arg(512)->Arg(16 * 1024);

void BM_SetupDataParse(benchmark::State& state) {
  SetupData table;
  table.SetDefaults();
  const auto bytes = table.ToBytes();
  for (auto _ : state) benchmark::DoNotOptimize(table.ReadBytes(bytes));
}
BENCHMARK(BM_SetupDataParse);

}  // namespace
