// Simulated modem with a paging company behind it: what the agent's pager action dials.
//
// Command mode: Hayes-style lines ("AT...", ended by CR), echoed while echo is on (ATE0 / ATE1).
// Every AT line answers "OK" except a dial; a line with bytes that are not printable answers
// "ERROR". ATH hangs up, ATZ and AT&F restore echo.
//
// Dialling ("ATD", "ATDT" or "ATDP" and the dial string):
//   - a dial string that ends in ';' is a numeric page: the number runs to the first ',' (the
//     pauses), the DTMF digits after the pauses up to '#' are the page; the modem stays in
//     command mode and answers "OK". Logged as PAGE NUMERIC <number> <digits>.
//   - any other dial string is a data call to the paging terminal: "CONNECT <bps>" with DCD on.
//   - "busy on" answers BUSY, "carrier off" answers NO CARRIER, in both cases.
//
// The paging terminal (alphanumeric paging protocol) on a data call:
//   computer                            terminal
//   CR (repeated until answered)        "ID="
//   ESC "PG1" [password] CR             CR ACK CR, then ESC "[p" CR (go ahead)
//   STX id CR text CR ETX ccc CR        CR ACK CR    accepted  (logged PAGE TAP <id> <text>)
//                                       CR NAK CR    checksum wrong, or "nak N" asked for it
//                                       CR RS CR     "reject on": the page is refused
//   (a block ending in US instead of ETX continues the text field in the next block)
//   EOT CR                              CR ESC EOT CR, then the call ends (NO CARRIER)
// ccc is the checksum: the sum of the 7-bit values of every byte from STX through ETX (or US
// / ETB), its low 12 bits written as three characters '0' + 4 bits each, high bits first.
// "logon refuse" answers the logon with ESC EOT (forced disconnect) and hangs up.
//
// Dropping DTR hangs up. "silence on" (the core's switch) keeps the modem quiet.
//
// Control commands of this kind: busy on|off, carrier on|off, reject on|off, nak N,
// logon accept|refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim_device.h"

namespace upssim {

class PagerModem : public SimDevice {
 public:
  static constexpr size_t kMaxLine = 256;
  static constexpr size_t kMaxBlock = 512;
  static constexpr size_t kMaxMessage = 4096;
  // Time from a dial to its answer.
  static constexpr int kDialMs = 30;

  std::string Name() const override { return "pager"; }
  void OnBytes(SimContext& ctx, const uint8_t* data, size_t size) override;
  void OnHostLines(SimContext& ctx, uint32_t before, uint32_t now) override;
  uint32_t DeviceLines(const UpsState& state, uint32_t host_lines) const override;
  bool Control(SimContext& ctx, const std::vector<std::string>& words, std::string* error,
               std::vector<std::string>* lines) override;
  std::string Describe() const override;

  // The checksum characters of a block's bytes (STX through the end character).
  static std::string Checksum(const std::string& bytes);

 private:
  enum class Mode { kCommand, kDialling, kWaitLogon, kTransaction };

  void CommandByte(SimContext& ctx, char c);
  void CommandLine(SimContext& ctx, const std::string& line);
  void Dial(SimContext& ctx, const std::string& dial);
  void TerminalByte(SimContext& ctx, uint8_t c);
  void Logon(SimContext& ctx);
  void Block(SimContext& ctx);
  void Hangup(SimContext& ctx, bool tell);

  Mode mode_ = Mode::kCommand;
  bool echo_ = true;
  bool connected_ = false;
  unsigned call_ = 0;  // numbers the calls, so a late dial answer of an old call is dropped
  std::string line_;
  std::string block_;         // bytes of the block being received (STX onwards)
  bool in_block_ = false;
  bool block_end_ = false;    // the end character (ETX, US, ETB) has arrived
  size_t checksum_left_ = 0;  // checksum characters still to come (then the CR)
  bool in_escape_ = false;
  std::string escape_;
  std::string pending_id_;
  std::string pending_text_;  // text of a field continued over blocks

  bool busy_ = false;
  bool carrier_ = true;
  bool reject_ = false;
  bool refuse_logon_ = false;
  int nak_ = 0;
  int pages_ = 0;
};

}  // namespace upssim
