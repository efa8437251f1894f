// The simulated devices take whatever the computer sends and whatever a control line says;
// neither may crash them. The first byte picks the kind and the line speed; the rest is split
// in two: bytes for the line, and control lines.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sim_device.h"

namespace {

class FakeContext : public upssim::SimContext {
 public:
  void Send(const std::string& bytes) override { sent += bytes.size(); }
  void Log(const std::string&, const std::string& text) override { logged += text.size(); }
  void After(int, std::function<void()> action) override { later.push_back(std::move(action)); }
  platform::LineSettings Line() override { return line; }
  const upssim::UpsState& State() const override { return state; }
  uint32_t HostLines() const override { return host; }

  platform::LineSettings line;
  upssim::UpsState state;
  uint32_t host = 0;
  size_t sent = 0;
  size_t logged = 0;
  std::vector<std::function<void()>> later;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const auto kinds = upssim::SimDeviceKinds();
  auto device = upssim::MakeSimDevice(kinds[data[0] % kinds.size()]);
  FakeContext ctx;
  ctx.line.bps = (data[0] & 0x80) ? 2400 : 1200;
  ctx.state.mains_ok = (data[1] & 1) != 0;
  ctx.state.battery_low = (data[1] & 2) != 0;
  ctx.host = data[1] & 0x06;
  const size_t split = 2 + (size - 2) / 2;
  device->OnBytes(ctx, data + 2, split - 2);

  std::istringstream lines(std::string(reinterpret_cast<const char*>(data + split), size - split));
  std::string line;
  while (std::getline(lines, line)) {
    std::string error;
    std::vector<std::string> out;
    device->Control(ctx, upssim::Words(line), &error, &out);
    device->OnBytes(ctx, reinterpret_cast<const uint8_t*>(line.data()), line.size());
  }
  const upssim::UpsState before = ctx.state;
  ctx.state.mains_ok = !ctx.state.mains_ok;
  device->OnStateChanged(ctx, before);
  for (auto& action : ctx.later) action();
  (void)device->DeviceLines(ctx.state, ctx.host);
  (void)device->Describe();
  return 0;
}
