#include "core/scp/command_block.h"

namespace {

// ConvertField (class 33, function 1): code 1 an unknown branch, 2 an unknown field.
constexpr int32_t FN_CONVERT = 1;

}  // namespace

CommandBlock::CommandBlock() {
  branches_.AddBranch(0, 0);
  for (int b = 1; b <= kCommandBranches; ++b) branches_.AddBranch(b, b == COMMAND_NETWORK_SHUTDOWN ? 5 : 1);
  SetRefreshPeriod(kRefreshNever);
  for (int b = 0; b <= kCommandBranches; ++b) branches_.Touch(b);
}

int CommandBlock::GetValue(int branch) const { return IsValueBranch(branch) ? values_[branch] : 0; }

int CommandBlock::SetValue(int branch, int value) {
  if (!IsValueBranch(branch)) return -1;
  values_[branch] = static_cast<uint8_t>(value);
  branches_.SetFieldState(branch, 1, FIELD_CHANGED);
  return 0;
}

void CommandBlock::SetShutDelay(int v) {
  shut_delay_ = static_cast<uint8_t>(v);
  branches_.SetFieldState(COMMAND_NETWORK_SHUTDOWN, 1, FIELD_CHANGED);
}
void CommandBlock::SetWarnDelay(int v) {
  warn_delay_ = static_cast<uint8_t>(v);
  branches_.SetFieldState(COMMAND_NETWORK_SHUTDOWN, 2, FIELD_CHANGED);
}
void CommandBlock::SetCommand(int v) {
  command_ = static_cast<uint8_t>(v);
  branches_.SetFieldState(COMMAND_NETWORK_SHUTDOWN, 3, FIELD_CHANGED);
}
void CommandBlock::SetPassword(const char* text) {
  if (text == nullptr) {
    password_.reset();
  } else {
    password_.emplace(text);
  }
  branches_.SetFieldState(COMMAND_NETWORK_SHUTDOWN, 4, FIELD_CHANGED);
}
void CommandBlock::SetTimeShutDelay(int v) {
  time_shut_delay_ = static_cast<uint8_t>(v);
  branches_.SetFieldState(COMMAND_NETWORK_SHUTDOWN, 5, FIELD_CHANGED);
}

void CommandBlock::SetMessage(const char* text) {
  if (text == nullptr) {
    message_.reset();
  } else {
    message_.emplace(text);
  }
  branches_.SetFieldState(COMMAND_MESSAGE, 1, FIELD_CHANGED);
}

int CommandBlock::Fail(int branch, int field) {
  LogError(ERR_COMMAND_BLOCK, FN_CONVERT, branch >= 1 && branch <= kCommandBranches ? 2 : 1,
           branch >= 1 && branch <= kCommandBranches ? field : branch);
  return -1;
}

int CommandBlock::GetRoute(int branch) {
  if (branches_.GetFieldCount(branch) < 0) {
    LogError(ERR_COMMAND_BLOCK, FN_CONVERT, 1, branch);
    return ROUTE_REFUSED;
  }
  return ROUTE_AGENT;
}

int CommandBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_FieldIO io(direction, out, in);
  int result;
  if (branch == COMMAND_NETWORK_SHUTDOWN) {
    switch (field) {
      case 1: result = io.U8(shut_delay_); break;
      case 2: result = io.U8(warn_delay_); break;
      case 3: result = io.U8(command_); break;
      case 4: result = io.Text(password_); break;
      case 5: result = io.U8(time_shut_delay_); break;
      default: return Fail(branch, field);
    }
  } else if (branch == COMMAND_MESSAGE) {
    if (field != 1) return Fail(branch, field);
    result = io.Text(message_);
  } else if (IsValueBranch(branch)) {
    if (field != 1) return Fail(branch, field);
    result = io.U8(values_[branch]);
  } else {
    return Fail(branch, field);
  }
  if (result >= 0 && direction == CONVERT_DECODE) {
    branches_.Touch(branch);
    branches_.Touch(0);
  }
  return result;
}
