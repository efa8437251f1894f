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
#include "tests/support/own_name_prefix.h"

namespace {

// The bench's named objects go under a prefix of its own; their files go at its end.
[[maybe_unused]] const bool kOwnPrefix = [] {
  testing_support::UseOwnNamePrefix("bench");
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
  // The table reads (and, missing, creates) setup.dat in the working directory when it is
  // made: made in a scratch folder, so that none is left where the bench was run.
  const auto dir = std::filesystem::temp_directory_path() / BenchName("setup");
  std::filesystem::create_directories(dir);
  const auto where = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  SetupData table;
  std::filesystem::current_path(where);
  std::filesystem::remove_all(dir);
  table.SetDefaults();
  const auto bytes = table.ToBytes();
  for (auto _ : state) benchmark::DoNotOptimize(table.ReadBytes(bytes));
}
BENCHMARK(BM_SetupDataParse);

}  // namespace
