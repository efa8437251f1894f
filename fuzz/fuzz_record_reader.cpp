// Fuzzes the record reader and the blocks that decode through it. The first input byte picks
// a target (modulo the number of targets), the rest is the input:
//   - the reader alone, driven by an operation script;
//   - each block of the table below: the input is decoded into a fresh block as a SET of the
//     whole block, a branch or a field, then the block's own encoding must decode again.
// A new block joins by one line in kBlocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/scp/alarm_queue_block.h"
#include "core/scp/battery_info_block.h"
#include "core/scp/battery_log_block.h"
#include "core/scp/battery_test_block.h"
#include "core/scp/block.h"
#include "core/scp/command_block.h"
#include "core/scp/config_block.h"
#include "core/scp/event_log_block.h"
#include "core/scp/meter_block.h"
#include "core/scp/notify_block.h"
#include "core/scp/record_reader.h"
#include "core/scp/recptinf.h"
#include "core/scp/sched_shutdown_block.h"
#include "core/scp/scp_frame.h"
#include "core/scp/status_block.h"
#include "core/scp/ups_info_block.h"
#include "core/scp/waveform_block.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A block with every kind of field the base offers, standing in until the real blocks join.
class FuzzSampleBlock : public KT_Block {
 public:
  FuzzSampleBlock() {
    branches_.AddBranch(0, 0);
    branches_.AddBranch(1, 3);
    branches_.AddBranch(2, 2);
    branches_.AddBranch(3, 1);
  }
  int GetRoute(int branch) override { return branch >= 0 && branch <= 3 ? ROUTE_AGENT : ROUTE_REFUSED; }
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override {
    KT_FieldIO io(direction, out, in);
    if (branch == 1 && field == 1) return io.U8(mode_);
    if (branch == 1 && field == 2) return io.U16(delay_);
    if (branch == 1 && field == 3) return io.Text(name_);
    if (branch == 2 && field == 1) return io.U32(count_);
    if (branch == 2 && field == 2) return io.I32(offset_);
    if (branch == 3 && field == 1) {
      if (io.Encoding()) {
        if (out->PutCount8(list_.size()) < 0) return -1;
        for (const auto& t : list_) {
          if (out->PutText(t) < 0) return -1;
        }
        return 1;
      }
      uint8_t n = 0;
      if (in->Get8(n) < 0) return -1;
      list_.clear();
      for (int i = 0; i < n; ++i) {
        std::optional<std::string> t;
        if (in->GetText(t) < 0) return -1;
        list_.push_back(t);
      }
      return 1;
    }
    return -1;
  }

 private:
  uint8_t mode_ = 255;
  uint16_t delay_ = 0xFFFF;
  std::optional<std::string> name_;
  uint32_t count_ = 0;
  int32_t offset_ = -1;
  std::vector<std::optional<std::string>> list_;
};

struct BlockTarget {
  uint8_t id;                         // block id used in the keys
  std::unique_ptr<KT_Block> (*make)();
  bool exactRoundTrip;                // encode(decode(encode(b))) == encode(b)
};

template <class B>
std::unique_ptr<KT_Block> Make() {
  return std::make_unique<B>();
}

const BlockTarget kBlocks[] = {
    {4, [] { return std::unique_ptr<KT_Block>(new FuzzSampleBlock); }, true},
    {1, [] { return std::unique_ptr<KT_Block>(new StatusBlock); }, true},
    {2, [] { return std::unique_ptr<KT_Block>(new UpsInfoBlock); }, true},
    {3, [] { return std::unique_ptr<KT_Block>(new MeterBlock); }, true},
    {6, [] { return std::unique_ptr<KT_Block>(new EventLogBlock); }, true},
    {8, [] { return std::unique_ptr<KT_Block>(new AlarmQueueBlock); }, true},
    {27, [] { return std::unique_ptr<KT_Block>(new CommandBlock); }, true},
    // A list read back comes in reverse order (actions, trap receivers), so the second
    // encoding may differ from the first.
    {4, Make<ConfigBlock>, true},
    {5, Make<NotifyBlock>, false},
    {7, Make<BatteryLogBlock>, true},
    {9, Make<WaveformBlock>, true},
    {24, Make<SchedShutdownBlock>, true},
    {25, Make<BatteryTestBlock>, true},
    {26, Make<BatteryInfoBlock>, true},
    {28, Make<Recptinf>, true},
};

void FuzzReader(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // The first half of the input is the script, the second the bytes to read.
  const size_t split = size / 2;
  KT_RecordReader reader(data + split, size - split);
  for (size_t i = 0; i < split; ++i) {
    const size_t before = reader.Position();
    int r = 0;
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    std::optional<std::string> text;
    std::vector<uint8_t> bytes;
    switch (data[i] % 6) {
      case 0: r = reader.Get8(u8); break;
      case 1: r = reader.Get16(u16); break;
      case 2: r = reader.Get32(u32); break;
      case 3:
        r = reader.GetText(text);
        if (r > 0 && text) Check(text->size() + 2 <= reader.Position() - before);
        break;
      case 4: r = reader.GetBytes(bytes, data[i] >> 3); break;
      case 5: r = reader.Skip(data[i] >> 3); break;
    }
    Check(reader.Position() <= size - split);
    if (r < 0) Check(reader.Position() == before && reader.Failed());
  }
}

void FuzzBlock(const BlockTarget& target, const uint8_t* data, size_t size) {
  if (size < 3) return;
  // Key form from the first bytes: whole block, one branch, or one field.
  std::vector<uint8_t> key{target.id};
  if (data[0] % 3 >= 1) key.push_back(data[1] % 16);
  if (data[0] % 3 == 2) key.push_back(data[2] % 16);
  KT_ScpMessage set(SCP_SET, key, std::vector<uint8_t>(data + 3, data + size));

  auto block = target.make();
  std::vector<uint8_t> reply;
  block->ConvertMessage(reply, set);
  Check(reply.empty());

  // Whatever state the decode left, the block's own encoding must decode again.
  std::vector<uint8_t> first;
  if (block->ConvertMessage(first, KT_ScpMessage(SCP_GET, {target.id})) < 0) return;
  KT_ScpMessage data_reply;
  Check(DecodeScpFrame(first.data(), first.size(), data_reply) == 0);
  auto copy = target.make();
  Check(copy->ConvertMessage(reply, KT_ScpMessage(SCP_DATA, {target.id}, data_reply.data)) >= 0);
  if (target.exactRoundTrip) {
    std::vector<uint8_t> second;
    Check(copy->ConvertMessage(second, KT_ScpMessage(SCP_GET, {target.id})) >= 0);
    Check(second == first);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr size_t kTargets = 1 + sizeof(kBlocks) / sizeof(kBlocks[0]);
  const size_t target = data[0] % kTargets;
  // Copy so that a read past the input is caught.
  std::vector<uint8_t> input(data + 1, data + size);
  if (target == 0) {
    FuzzReader(input.data(), input.size());
  } else {
    FuzzBlock(kBlocks[target - 1], input.data(), input.size());
  }
  return 0;
}
