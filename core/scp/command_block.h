// SCP block 27: the mailbox for commands to an agent. A console or a master agent sends a SET
// of one branch; the agent's system-request handler acts on it.
//
//   branch  field(s)                                   default
//   1       terminate the agent (1 byte)               0
//   2       restart (reboot) the computer (1 byte)     0
//   3       reset the battery information (1 byte)     0
//   4       network-shutdown command from a master:    255, 255, 255, none, 255
//           1 shut_delay, 2 warn_delay, 3 command (1 byte each), 4 password text,
//           5 time_shut_delay (1 byte)
//   5       run a battery test now (1 byte)            0
//   6       a console unregisters from status pushes   0
//   7       pager test: the event whose page action is tested; 255 while the page is under
//           way, 247 when no page action exists        0
//   8       turn the non-critical load segment off     0
//   9       text message for the agent to show (text)  none
//   10      shut the scheduled load segment down and restart it   0
//
// Route of every branch: the agent side. Refresh period: never; every branch counts as filled
// from construction on, so GETs are answered from the image at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/scp/block.h"

enum CommandBranch : int {
  COMMAND_TERMINATE = 1,
  COMMAND_RESTART = 2,
  COMMAND_RESET_BATTERY_INFO = 3,
  COMMAND_NETWORK_SHUTDOWN = 4,
  COMMAND_BATTERY_TEST = 5,
  COMMAND_UNREGISTER = 6,
  COMMAND_PAGER_TEST = 7,
  COMMAND_LOAD_OFF = 8,
  COMMAND_MESSAGE = 9,
  COMMAND_SEGMENT_RESTART = 10,
};

inline constexpr int kCommandBranches = 10;
// Pager-test values the agent writes into branch 7.
inline constexpr uint8_t kPagerTestInProgress = 255;
inline constexpr uint8_t kPagerTestNoPageAction = 247;

class CommandBlock : public KT_Block {
 public:
  CommandBlock();

  // The one byte of branches 1..3, 5..8 and 10; 0 for another branch. The setter marks the
  // field changed; for another branch it does nothing and answers -1.
  int GetValue(int branch) const;
  int SetValue(int branch, int value);

  // Branch 4.
  int GetShutDelay() const { return shut_delay_; }
  int GetWarnDelay() const { return warn_delay_; }
  int GetCommand() const { return command_; }
  int GetTimeShutDelay() const { return time_shut_delay_; }
  const std::optional<std::string>& GetPassword() const { return password_; }
  void SetShutDelay(int v);
  void SetWarnDelay(int v);
  void SetCommand(int v);
  void SetTimeShutDelay(int v);
  // A null text clears the password.
  void SetPassword(const char* text);

  // Branch 9; a null text clears the message.
  const std::optional<std::string>& GetMessage() const { return message_; }
  void SetMessage(const char* text);

  // Local values that never travel: seconds the UPS drivers send with a shutdown as the
  // restart delay, and seconds before the UPS turns its output off.
  void SetRestartDelay(int32_t seconds) { restart_delay_ = seconds; }
  int32_t GetRestartDelay() const { return restart_delay_; }
  void SetShutdownDelay(int32_t seconds) { shutdown_delay_ = seconds; }
  int32_t GetShutdownDelay() const { return shutdown_delay_; }

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

 private:
  static bool IsValueBranch(int branch) {
    return branch >= 1 && branch <= kCommandBranches && branch != COMMAND_NETWORK_SHUTDOWN && branch != COMMAND_MESSAGE;
  }
  int Fail(int branch, int field);

  uint8_t values_[kCommandBranches + 1] = {};  // indexed by branch
  uint8_t shut_delay_ = 255;
  uint8_t warn_delay_ = 255;
  uint8_t command_ = 255;
  std::optional<std::string> password_;
  uint8_t time_shut_delay_ = 255;
  std::optional<std::string> message_;
  int32_t restart_delay_ = 0;
  int32_t shutdown_delay_ = 0;
};
