// Figures for the SCP frame path and the block conversion: frames built and decoded per
// second, and whole-block encodes and decodes per second of a block shaped like the UPS
// information block (five branches, 27 fields of every kind).
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "core/scp/block.h"
#include "core/scp/scp_frame.h"

namespace {

class InfoShapedBlock : public KT_Block {
 public:
  InfoShapedBlock() {
    branches_.AddBranch(0, 0);
    branches_.AddBranch(1, 2);
    branches_.AddBranch(2, 9);
    branches_.AddBranch(3, 5);
    branches_.AddBranch(4, 4);
    branches_.AddBranch(5, 7);
  }
  int GetRoute(int) override { return ROUTE_UPS; }
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override {
    KT_FieldIO io(direction, out, in);
    switch (branch * 16 + field) {
      case 0x11: return io.U8(bytes_[0]);
      case 0x12: {
        if (io.Encoding()) return out->PutCount8(map_.size()) < 0 ? -1 : out->PutBytes(map_.data(), map_.size());
        uint8_t n = 0;
        return in->Get8(n) < 0 ? -1 : in->GetBytes(map_, n);
      }
      case 0x26: return io.Text(model_);
      case 0x27: return io.Text(serial_);
      case 0x28: return io.Text(cto_);
      case 0x29: return io.I32(reserved_);
      case 0x33: return io.Text(reserved_text_);
      case 0x51: return io.I32(va_);
      case 0x52: return io.I32(watts_);
      case 0x53: case 0x54: case 0x55: case 0x56: return io.U16(nominal_[field - 3]);
      default: return io.U8(bytes_[field]);
    }
  }

 private:
  uint8_t bytes_[10] = {2, 3, 1, 0, 4, 37, 1, 2, 3, 1};
  std::vector<uint8_t> map_{0x83, 0x10, 0x01, 0x10};
  std::optional<std::string> model_ = std::string("Tolmer 1400 VA");
  std::optional<std::string> serial_ = std::string("TX4411930021");
  std::optional<std::string> cto_;
  int32_t reserved_ = -1;
  std::optional<std::string> reserved_text_;
  int32_t va_ = 28;
  int32_t watts_ = 19;
  uint16_t nominal_[4] = {230, 50, 230, 50};
};

void BM_GetFrameBuildDecode(benchmark::State& state) {
  const KT_ScpMessage get(SCP_GET, {2, 1, 0}, {}, 0);
  std::vector<uint8_t> frame;
  KT_ScpMessage out;
  for (auto _ : state) {
    BuildScpFrame(get, frame);
    benchmark::DoNotOptimize(DecodeScpFrame(frame.data(), frame.size(), out));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetFrameBuildDecode);

void BM_SetFrameBuildDecode(benchmark::State& state) {
  const KT_ScpMessage set(SCP_SET, {4, 2}, std::vector<uint8_t>(static_cast<size_t>(state.range(0)), 0x5A));
  std::vector<uint8_t> frame;
  KT_ScpMessage out;
  for (auto _ : state) {
    BuildScpFrame(set, frame);
    benchmark::DoNotOptimize(DecodeScpFrame(frame.data(), frame.size(), out));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_SetFrameBuildDecode)->Arg(16)->Arg(256)->Arg(4096);

void BM_WholeBlockEncode(benchmark::State& state) {
  InfoShapedBlock block;
  const KT_ScpMessage get(SCP_GET, {2});
  std::vector<uint8_t> reply;
  for (auto _ : state) {
    benchmark::DoNotOptimize(block.ConvertMessage(reply, get));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WholeBlockEncode);

void BM_WholeBlockDecode(benchmark::State& state) {
  InfoShapedBlock block;
  std::vector<uint8_t> reply;
  block.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {2}));
  KT_ScpMessage data;
  DecodeScpFrame(reply.data(), reply.size(), data);
  for (auto _ : state) {
    benchmark::DoNotOptimize(block.ConvertMessage(reply, data));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WholeBlockDecode);

}  // namespace
