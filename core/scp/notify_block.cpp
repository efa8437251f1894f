#include "core/scp/notify_block.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

// Smallest record of one action (both texts absent), mail recipient, trap receiver and
// pager recipient: a received count is checked against these before anything is kept.
constexpr size_t kMinActionBytes = 11;
constexpr size_t kMinMailBytes = 2;
constexpr size_t kMinTrapBytes = 2;
constexpr size_t kMinPagerBytes = 16;

// Default support: events 1..25 and 28..35; actions 1..10.
const std::vector<uint8_t> kDefaultEventMap{0xFF, 0xFF, 0xFF, 0xF9, 0x07};
const std::vector<uint8_t> kDefaultActionMap{0xFF, 0x03};

// Byte and bit of an action in the action map; false for an action without a bit.
bool ActionBit(int action, int& byte, int& bit) {
  if (action >= 1 && action <= 8) {
    byte = 0;
    bit = action - 1;
    return true;
  }
  switch (action) {
    case ACTION_NETFINITY_ALERT: byte = 1; bit = 0; return true;
    case ACTION_INSIGHT_TRAP: byte = 1; bit = 1; return true;
    case ACTION_REMOTE_HOST: byte = 1; bit = 3; return true;
    default: return false;
  }
}

bool TestBit(const std::vector<uint8_t>& map, size_t byte, int bit) {
  return byte < map.size() && (map[byte] & (1u << bit)) != 0;
}

std::string Text(const std::optional<std::string>& t) { return t ? *t : std::string(); }

const char* const kPowerFailure = "Power Failure. Your UPS is now powering the system.\n";
const char* const kPowerRestored = "Power Restored. System returned to Normal.\n";
const char* const kLowBattery = "Low Battery, system will shutdown now!\n";
const char* const kLowBatteryCleared = "Low Battery Alarm cleared.\n";

}  // namespace

NotifyBlock::NotifyBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  branches_.AddBranch(2, 1);
  branches_.AddBranch(3, 1);
  branches_.AddBranch(4, 1);
  branches_.AddBranch(5, 1);
  SetRefreshPeriod(kRefreshNever);
  Reset();
}

int NotifyBlock::GetRoute(int /*branch*/) { return ROUTE_AGENT; }

int NotifyBlock::Note(int32_t fn, int32_t failure, int32_t value) {
  errorClass = ERR_NOTIFY_BLOCK;
  function = fn;
  code = failure;
  systemError = value;
  return -1;
}

void NotifyBlock::Reset() {
  actions_.clear();
  action_cursor_ = 0;
  traps_.Clear();
  pagers_.Clear();
  event_map_.clear();
  action_map_.clear();
  loaded_ = 0;
}

// ---- support maps ----

int NotifyBlock::SetSupportBit(int which, int n, int b) {
  if (n < 0 || n > 255) {
    LogError(ERR_NOTIFY_BLOCK, FN_SET_SUPPORT, 1, n);
    return -1;
  }
  if (b < 0 || b > 7) {
    LogError(ERR_NOTIFY_BLOCK, FN_SET_SUPPORT, 2, b);
    return -1;
  }
  std::vector<uint8_t>& map = Map(which);
  try {
    if (map.size() < static_cast<size_t>(n) + 1) map.resize(static_cast<size_t>(n) + 1, 0);
  } catch (const std::bad_alloc&) {
    map.clear();
    LogError(ERR_NOTIFY_BLOCK, FN_SET_SUPPORT, 3, GetSocketError());
    return -1;
  }
  map[static_cast<size_t>(n)] |= static_cast<uint8_t>(1u << b);
  branches_.SetFieldState(1, MapField(which), FIELD_CHANGED);
  branches_.Touch(1);
  return 1;
}

int NotifyBlock::ClearSupportBit(int which, int n, int b) {
  std::vector<uint8_t>& map = Map(which);
  if (map.empty()) {
    LogError(ERR_NOTIFY_BLOCK, FN_CLEAR_SUPPORT, 1, 0);
    return -1;
  }
  if (n < 0 || static_cast<size_t>(n) >= map.size()) {
    LogError(ERR_NOTIFY_BLOCK, FN_CLEAR_SUPPORT, 2, n);
    return -1;
  }
  if (b < 0 || b > 7) {
    LogError(ERR_NOTIFY_BLOCK, FN_CLEAR_SUPPORT, 3, b);
    return -1;
  }
  map[static_cast<size_t>(n)] &= static_cast<uint8_t>(~(1u << b));
  branches_.SetFieldState(1, MapField(which), FIELD_CHANGED);
  branches_.Touch(1);
  return 1;
}

int NotifyBlock::TestSupportBit(int which, int n, int b) {
  if (b < 0 || b > 7) {
    LogError(ERR_NOTIFY_BLOCK, FN_TEST_SUPPORT, 1, b);
    return -1;
  }
  if (n < 0) return 0;
  return TestBit(Map(which), static_cast<size_t>(n), b) ? 1 : 0;
}

int NotifyBlock::GetSupportMapSize(int which) const {
  return static_cast<int>(which == SUPPORT_EVENTS ? event_map_.size() : action_map_.size());
}

const std::vector<uint8_t>& NotifyBlock::GetSupportMap(int which) const {
  return which == SUPPORT_EVENTS ? event_map_ : action_map_;
}

int NotifyBlock::IsActionSupported(int action) const {
  int byte = 0;
  int bit = 0;
  if (!ActionBit(action, byte, bit)) return 0;
  return TestBit(action_map_, static_cast<size_t>(byte), bit) ? 1 : 0;
}

int NotifyBlock::CountSupportedEvents() const {
  int count = 0;
  for (int e = 1; e <= kMaxEvent; ++e) {
    if (TestBit(event_map_, static_cast<size_t>((e - 1) / 8), (e - 1) % 8)) ++count;
  }
  return count;
}

int NotifyBlock::CountSupportedActions() const {
  int count = 0;
  for (int a = 1; a <= kMaxAction; ++a) count += IsActionSupported(a);
  return count;
}

int NotifyBlock::GetSupportedEvents(std::vector<int>& out) const {
  out.clear();
  try {
    for (int e = 1; e <= kMaxEvent; ++e) {
      if (TestBit(event_map_, static_cast<size_t>((e - 1) / 8), (e - 1) % 8)) out.push_back(e);
    }
  } catch (const std::bad_alloc&) {
    out.clear();
    AppendErrorLog(ERR_NOTIFY_BLOCK, FN_SUPPORTED_EVENTS, 1, GetSocketError());
    return -1;
  }
  return static_cast<int>(out.size());
}

void NotifyBlock::SetDefaultSupport(int which) {
  Map(which) = which == SUPPORT_EVENTS ? kDefaultEventMap : kDefaultActionMap;
  branches_.SetFieldState(1, MapField(which), FIELD_CHANGED);
  branches_.Touch(1);
}

void NotifyBlock::AddDefault(uint8_t event, uint8_t action, uint16_t delay, uint16_t interval, uint8_t alias,
                             const char* message) {
  KT_ActionEntry entry(event, action);
  entry.delay = delay;
  entry.interval = interval;
  entry.alias = alias;
  entry.retries = 0;
  entry.SetMessage(message);
  AddAction(entry);
}

void NotifyBlock::SetDefaultActions() {
  SetDefaultSupport(SUPPORT_EVENTS);
  SetDefaultSupport(SUPPORT_ACTIONS);
  std::vector<int> events;
  GetSupportedEvents(events);
  for (int e : events) AddDefault(static_cast<uint8_t>(e), ACTION_EVENT_LOG, 0, 0, 1, nullptr);
  for (int e : events) AddDefault(static_cast<uint8_t>(e), ACTION_APPLICATION_LOG, 0, 0, 255, nullptr);
  AddDefault(3, ACTION_USER_WARNING, 4, 60, 255, kPowerFailure);
  AddDefault(3, ACTION_CONSOLE_WARNING, 0, 60, 255, kPowerFailure);
  AddDefault(4, ACTION_USER_WARNING, 0, 0, 255, kPowerRestored);
  AddDefault(4, ACTION_CONSOLE_WARNING, 0, 0, 255, kPowerRestored);
  AddDefault(5, ACTION_USER_WARNING, 0, 0, 255, kLowBattery);
  AddDefault(5, ACTION_CONSOLE_WARNING, 0, 60, 255, kLowBattery);
  AddDefault(6, ACTION_USER_WARNING, 0, 0, 255, kLowBatteryCleared);
  AddDefault(6, ACTION_CONSOLE_WARNING, 0, 0, 255, kLowBatteryCleared);
}

// ---- actions ----

int NotifyBlock::AddAction(const KT_ActionEntry& entry) {
  if (entry.event < 1 || entry.event > kMaxActionEvent) {
    LogError(ERR_NOTIFY_BLOCK, FN_ADD_ACTION, 1, entry.event);
    return -1;
  }
  for (const KT_ActionEntry& a : actions_) {
    if (a.SameAction(entry)) {
      LogError(ERR_NOTIFY_BLOCK, FN_ADD_ACTION, 2, entry.event);
      return -1;
    }
  }
  if (!entry.TextsFit()) {
    LogError(ERR_NOTIFY_BLOCK, FN_ADD_ACTION, 3, entry.event);
    return -1;
  }
  try {
    KT_ActionEntry copy;
    copy.CopyFrom(entry);
    actions_.insert(actions_.begin(), std::move(copy));
  } catch (const std::bad_alloc&) {
    LogError(ERR_NOTIFY_BLOCK, FN_ADD_ACTION, 4, GetSocketError());
    return -1;
  }
  action_cursor_ = 0;
  branches_.SetFieldState(2, 1, FIELD_CHANGED);
  return 0;
}

int NotifyBlock::RemoveAction(const KT_ActionEntry& entry) {
  if (entry.event < 1 || entry.event > kMaxActionEvent) {
    LogError(ERR_NOTIFY_BLOCK, FN_REMOVE_ACTION, 1, entry.event);
    return -1;
  }
  const auto it = std::find_if(actions_.begin(), actions_.end(),
                               [&](const KT_ActionEntry& a) { return a.SameAction(entry); });
  if (it == actions_.end()) return 0;
  actions_.erase(it);
  action_cursor_ = 0;
  branches_.SetFieldState(2, 1, FIELD_CHANGED);
  return 1;
}

bool NotifyBlock::FindAction(int event, int action, KT_ActionEntry& out) const {
  for (const KT_ActionEntry& a : actions_) {
    if (a.event == event && a.action == action) {
      out.CopyFrom(a);
      return true;
    }
  }
  return false;
}

bool NotifyBlock::SetActionAlias(int event, int action, uint8_t alias) {
  for (KT_ActionEntry& a : actions_) {
    if (a.event == event && a.action == action) {
      a.alias = alias;
      return true;
    }
  }
  return false;
}

int NotifyBlock::GetNextAction(KT_ActionEntry& out) {
  if (action_cursor_ >= actions_.size()) {
    action_cursor_ = 0;
    return Note(FN_NEXT_ACTION, 1, 0);
  }
  out.CopyFrom(actions_[action_cursor_++]);
  return 1;
}

int NotifyBlock::GetNextActionText(std::string& text) {
  if (action_cursor_ >= actions_.size()) {
    action_cursor_ = 0;
    return Note(FN_NEXT_ACTION_TEXT, 1, 0);
  }
  GetActionText(actions_[action_cursor_++], text);
  return 1;
}

void NotifyBlock::GetActionText(const KT_ActionEntry& entry, std::string& text) const {
  // "<plain>" when no recipient is selected or found, else "<plain> to <names>".
  auto with_names = [](const char* plain, const std::string& names) {
    return names.empty() ? std::string(plain) : std::string(plain) + " to " + names;
  };
  switch (entry.action) {
    case ACTION_SNMP_TRAP:
      text = entry.alias == 0 ? std::string("Send SNMP Trap") : with_names("Send SNMP Trap", traps_.GetNames(entry.alias));
      break;
    case ACTION_USER_WARNING: text = "Display User Warning Message."; break;
    case ACTION_CONSOLE_WARNING: text = "Display Console Warning Message."; break;
    case ACTION_AUDIO: text = "Play " + Text(entry.message) + " audio file."; break;
    case ACTION_PAGE: text = with_names("Send Page", pagers_.GetNames(entry.alias)); break;
    case ACTION_MAIL: text = with_names("Send Electronic Mail", mail_.GetNames(entry.alias)); break;
    case ACTION_COMMAND: text = "Execute command: " + Text(entry.message); break;
    case ACTION_EVENT_LOG: text = std::string("Log the event to the ") + "Event Log file."; break;
    case ACTION_NETFINITY_ALERT: text = "Send a Netfinity Alert to host "; break;
    case ACTION_INSIGHT_TRAP: text = "Send a Insight Manager Trap to host"; break;
    case ACTION_APPLICATION_LOG: text = std::string("Log the event to the ") + "Application Log File."; break;
    case ACTION_REMOTE_HOST: text = "Notify remote host: " + Text(entry.remoteHost); break;
    default: text = "Unknown action specified."; break;
  }
}

bool NotifyBlock::IsClearingEvent(int event) {
  switch (event) {
    case 2: case 4: case 6: case 8: case 10: case 12: case 14: case 16: case 18:
    case 27: case 29: case 31: case 33: case 35:
      return true;
    default:
      return false;
  }
}

void NotifyBlock::Assign(const NotifyBlock& other) {
  mail_ = other.mail_;
  mail_.ResetCursor();
  actions_.clear();
  action_cursor_ = 0;
  traps_.Clear();
  pagers_.Clear();
  event_map_.clear();
  action_map_.clear();
  for (const KT_PagerConfig& p : other.pagers_.Entries()) pagers_.Add(p);
  SetDefaultSupport(SUPPORT_EVENTS);
  SetDefaultSupport(SUPPORT_ACTIONS);
  for (const KT_ActionEntry& a : other.actions_) AddAction(a);
}

// ---- record conversion ----

int NotifyBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE ? out == nullptr : in == nullptr) return -1;
  int result = -1;
  if (branch == 1 && field == 1) {
    result = ConvertMap(SUPPORT_EVENTS, direction, out, in);
  } else if (branch == 1 && field == 2) {
    result = ConvertMap(SUPPORT_ACTIONS, direction, out, in);
  } else if (branch == 2 && field == 1) {
    result = ConvertActions(direction, out, in);
  } else if (branch == 3 && field == 1) {
    result = ConvertMail(direction, out, in);
  } else if (branch == 4 && field == 1) {
    result = ConvertTraps(direction, out, in);
  } else if (branch == 5 && field == 1) {
    result = ConvertPagers(direction, out, in);
  } else {
    return Note(FN_CONVERT, 5, branch * 256 + field);
  }
  if (direction == CONVERT_DECODE && result >= 0) branches_.Touch(branch);
  return result;
}

int NotifyBlock::ConvertMap(int which, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  std::vector<uint8_t>& map = Map(which);
  if (direction == CONVERT_ENCODE) {
    if (out->PutCount8(map.size()) < 0 || out->PutBytes(map.data(), map.size()) < 0) return -1;
    return 1;
  }
  uint8_t length = 0;
  if (in->Get8(length) < 0) return -1;
  std::vector<uint8_t> bytes;
  if (in->GetBytes(bytes, length) < 0) return -1;
  map = std::move(bytes);
  return 1;
}

int NotifyBlock::ConvertActions(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out->PutCount8(actions_.size()) < 0) {
      LogError(ERR_NOTIFY_BLOCK, FN_TEST_SUPPORT, 1, static_cast<int32_t>(actions_.size()));
      return -1;
    }
    for (const KT_ActionEntry& a : actions_) {
      int failed = 0;
      if (out->Put8(a.event) < 0) failed = 2;
      else if (out->Put8(a.action) < 0) failed = 3;
      else if (out->Put16(a.delay) < 0) failed = 4;
      else if (out->Put16(a.interval) < 0) failed = 5;
      else if (out->PutText(a.message) < 0) failed = 6;
      else if (out->Put8(a.retries) < 0) failed = 7;
      else if (out->Put8(a.alias) < 0) failed = 8;
      else if (out->Put8(a.option) < 0) failed = 9;
      if (failed != 0) {
        LogError(ERR_NOTIFY_BLOCK, FN_TEST_SUPPORT, failed, a.event);
        return -1;
      }
      if (out->PutText(a.remoteHost) < 0) {
        LogError(ERR_NOTIFY_BLOCK, FN_REMOVE_ACTION, 6, a.event);
        return -1;
      }
    }
    return 1;
  }

  uint8_t count = 0;
  if (in->Get8(count) < 0) return Note(FN_TEST_SUPPORT, 10, 0);
  if (count > in->Remaining() / kMinActionBytes) return Note(FN_CONVERT, 3, count);
  std::vector<KT_ActionEntry> list;
  try {
    list.reserve(count);
  } catch (const std::bad_alloc&) {
    return Note(FN_CONVERT, 3, count);
  }
  for (int i = 0; i < count; ++i) {
    KT_ActionEntry a;
    int failed = 0;
    if (in->Get8(a.event) < 0) failed = 11;
    else if (in->Get8(a.action) < 0) failed = 12;
    else if (in->Get16(a.delay) < 0) failed = 13;
    else if (in->Get16(a.interval) < 0) failed = 14;
    else if (in->GetText(a.message) < 0) failed = 15;
    else if (in->Get8(a.retries) < 0) failed = 16;
    else if (in->Get8(a.alias) < 0) failed = 17;
    else if (in->Get8(a.option) < 0) failed = 17;
    else if (in->GetText(a.remoteHost) < 0) failed = 18;
    if (failed != 0) return Note(FN_TEST_SUPPORT, failed, i);
    // An action for an event that does not exist is refused rather than dropped unseen.
    if (a.event < 1 || a.event > kMaxActionEvent) return Note(FN_ADD_ACTION, 1, a.event);
    const bool listed = std::any_of(list.begin(), list.end(), [&](const KT_ActionEntry& e) { return e.SameAction(a); });
    // Each goes to the front, as AddAction puts it; a repeated pair is kept once.
    if (!listed) list.insert(list.begin(), std::move(a));
  }
  actions_ = std::move(list);
  action_cursor_ = 0;
  return 1;
}

int NotifyBlock::ConvertMail(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    const int count = mail_.Count();
    if (out->Put8(static_cast<uint32_t>(count)) < 0) return -1;
    for (int i = 0; i < count; ++i) {
      std::optional<std::string> account;
      std::optional<std::string> name;
      mail_.GetAt(i, account, name);
      if (out->PutText(account) < 0 || out->PutText(name) < 0) return -1;
    }
    return 1;
  }
  uint8_t count = 0;
  if (in->Get8(count) < 0) return -1;
  // Two slots: a longer list cannot be kept, and keeping part of it would lose the rest.
  if (count > KT_MailRecipients::kSlots || count > in->Remaining() / kMinMailBytes) {
    return Note(FN_CONVERT, 3, count);
  }
  KT_MailRecipients::Entry entries[KT_MailRecipients::kSlots];
  for (int i = 0; i < count; ++i) {
    if (in->GetText(entries[i].account) < 0 || in->GetText(entries[i].name) < 0) return -1;
  }
  mail_.Replace(entries, count);
  return 1;
}

int NotifyBlock::ConvertTraps(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out->PutCount8(traps_.Entries().size()) < 0) return -1;
    for (const NetworkManagerEntry& e : traps_.Entries()) {
      if (out->PutText(e.hostName) < 0 || out->PutText(e.community) < 0) return -1;
    }
    return 1;
  }
  uint8_t count = 0;
  if (in->Get8(count) < 0) return -1;
  if (count > KT_NetworkManagerList::kSlots || count > in->Remaining() / kMinTrapBytes) {
    return Note(FN_CONVERT, 3, count);
  }
  std::vector<std::pair<std::string, std::string>> read;
  for (int i = 0; i < count; ++i) {
    std::optional<std::string> host;
    std::optional<std::string> community;
    if (in->GetText(host) < 0 || in->GetText(community) < 0) return -1;
    read.emplace_back(Text(host), Text(community));
  }
  // The receivers come in list order, newest first, and a trap action names them by slot. Added
  // back oldest first, each takes the slot it had and the list its order again, so that a file
  // or wire round trip sends every trap to the receiver it was configured for.
  KT_NetworkManagerList list;
  for (auto it = read.rbegin(); it != read.rend(); ++it) {
    list.Add(it->first, it->second);  // a repeated receiver is kept once
  }
  traps_ = std::move(list);
  return 1;
}

int NotifyBlock::ConvertPagers(int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  if (direction == CONVERT_ENCODE) {
    if (out->PutCount8(pagers_.Entries().size()) < 0) return -1;
    for (const KT_PagerConfig& p : pagers_.Entries()) {
      const std::optional<std::string> port =
          p.HasPortName() ? std::optional<std::string>(p.PortNameRef()) : std::nullopt;
      if (out->PutText(port) < 0 || out->Put8(p.GetBaudIndex()) < 0 || out->Put8(p.GetParity()) < 0 ||
          out->Put8(p.GetStopBits()) < 0 || out->Put8(p.GetDataBits()) < 0 || out->Put8(p.GetFlowControl()) < 0 ||
          out->PutText(p.GetAccessNumber()) < 0 || out->PutText(p.GetName()) < 0 ||
          out->PutText(p.GetMaxCharacters()) < 0 || out->PutText(p.GetDialString()) < 0 ||
          out->PutText(p.GetInitString()) < 0 || out->PutText(p.GetModemName()) < 0 ||
          out->PutText(p.GetPin()) < 0 || out->Put8(p.GetTap()) < 0 || out->PutText(p.GetTermination()) < 0 ||
          out->PutText(p.GetDelaySeconds()) < 0) {
        return -1;
      }
    }
    return 1;
  }
  uint8_t count = 0;
  if (in->Get8(count) < 0) return -1;
  if (count > KT_PagerList::kMaxRecipients || count > in->Remaining() / kMinPagerBytes) {
    return Note(FN_CONVERT, 3, count);
  }
  KT_PagerList list;
  for (int i = 0; i < count; ++i) {
    std::optional<std::string> port, access, name, max_chars, dial, init, modem, pin, termination, delay;
    uint8_t baud = 0, parity = 0, stop = 0, data = 0, flow = 0, tap = 0;
    if (in->GetText(port) < 0 || in->Get8(baud) < 0 || in->Get8(parity) < 0 || in->Get8(stop) < 0 ||
        in->Get8(data) < 0 || in->Get8(flow) < 0 || in->GetText(access) < 0 || in->GetText(name) < 0 ||
        in->GetText(max_chars) < 0 || in->GetText(dial) < 0 || in->GetText(init) < 0 || in->GetText(modem) < 0 ||
        in->GetText(pin) < 0 || in->Get8(tap) < 0 || in->GetText(termination) < 0 || in->GetText(delay) < 0) {
      return -1;
    }
    // Through the setters, so that a recipient read back obeys the same limits as one
    // entered; an absent text stays absent. A value a setter refuses fails the read.
    KT_PagerConfig p;
    auto text = [](const std::optional<std::string>& t, auto setter) { return !t || setter(t->c_str()) >= 0; };
    const bool ok = text(port, [&](const char* s) { return p.SetPortName(s); }) && p.SetBaudIndex(baud) >= 0 &&
                    p.SetParity(parity) >= 0 && p.SetStopBits(stop) >= 0 && p.SetDataBits(data) >= 0 &&
                    p.SetFlowControl(flow) >= 0 &&
                    text(access, [&](const char* s) { return p.SetAccessNumber(s); }) &&
                    text(name, [&](const char* s) { return p.SetName(s); }) &&
                    text(max_chars, [&](const char* s) { return p.SetMaxCharacters(s); }) &&
                    text(dial, [&](const char* s) { return p.SetDialString(s); }) &&
                    text(init, [&](const char* s) { return p.SetInitString(s); }) &&
                    text(modem, [&](const char* s) { return p.SetModemName(s); }) &&
                    text(pin, [&](const char* s) { return p.SetPin(s); }) &&
                    text(termination, [&](const char* s) { return p.SetTermination(s); }) &&
                    text(delay, [&](const char* s) { return p.SetDelaySeconds(s); });
    if (!ok) return Note(FN_CONVERT, 4, i);
    p.SetTap(tap);
    list.Add(p);  // a repeated recipient is kept once
  }
  pagers_ = std::move(list);
  return 1;
}
