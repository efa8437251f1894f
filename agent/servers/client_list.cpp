#include "agent/servers/client_list.h"

#include <algorithm>

#include "core/network/comm_base.h"
#include "core/scp/scp_base.h"
#include "core/scp/scp_message.h"
#include "platform/clock.h"

bool AlarmSnapshot::AnyChange() const {
  return std::any_of(time.begin(), time.end(), [](int64_t t) { return t != 0; });
}

AlarmSnapshot AlarmSnapshot::Of(StatusBlock& status) {
  AlarmSnapshot s;
  for (int i = 0; i < kAlarmCount; ++i) {
    s.active[i] = status.IsAlarmSet(i) == 1 ? 1 : 0;
    const int64_t t = status.GetAlarmTime(i);
    s.time[i] = t > 0 ? t : 0;
  }
  return s;
}

KT_Client::KT_Client(const KT_Address& source) { TakeAddress(source); }

void KT_Client::TakeAddress(const KT_Address& source) {
  // Field by field: a copy of the whole address would look the host name up.
  address.SetType(source.GetType());
  address.SetIpAddress(source.GetIpAddress());
  address.SetPort(source.GetPort());
  address.SetNode(source.Node());
}

bool KT_Client::SameAddress(const KT_Address& other) const {
  return address.GetIpAddress() == other.GetIpAddress() && address.GetPort() == other.GetPort();
}

bool KT_ClientList::Add(const KT_Address& source) {
  const int64_t now = platform::Now();
  for (KT_Client& c : clients_) {
    if (c.SameAddress(source)) {
      c.lastHeard = now;
      return false;
    }
  }
  if (Count() >= kMaxClients) {
    auto oldest = std::min_element(clients_.begin(), clients_.end(),
                                   [](const KT_Client& a, const KT_Client& b) { return a.lastHeard < b.lastHeard; });
    clients_.erase(oldest);
  }
  KT_Client& client = clients_.emplace_back();
  client.TakeAddress(source);
  client.lastHeard = now;
  return true;
}

bool KT_ClientList::Remove(const KT_Address& source) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->SameAddress(source)) {
      clients_.erase(it);
      return true;
    }
  }
  return false;
}

int KT_ClientList::PushUpdates(KT_SCPBase& scp, KT_CommBase& channel) {
  if (clients_.empty()) return 0;
  AlarmSnapshot now;
  std::vector<uint8_t> frame;
  {
    auto lock = scp.Lock();
    now = AlarmSnapshot::Of(scp.upsStatus);
    if (!now.AnyChange()) return 0;
    bool due = false;
    for (const KT_Client& c : clients_) due = due || !(c.pushed == now);
    if (!due) return 0;
    if (BuildStatusPushFrame(scp.upsStatus, frame) != 1) return 0;
  }
  int pushed = 0;
  const int64_t t = platform::Now();
  for (KT_Client& c : clients_) {
    if (c.pushed == now) continue;
    // A push that could not be sent (the shared-memory block still full, say) is tried
    // again at the next turn rather than lost.
    if (channel.Send(&c.address, frame) != 1) continue;
    c.pushed = now;
    c.lastPush = t;
    ++pushed;
  }
  return pushed;
}

int BuildStatusPushFrame(StatusBlock& block, std::vector<uint8_t>& frame) {
  frame.clear();
  const KT_ScpMessage get(SCP_GET, {1}, {}, 0);
  if (block.ConvertMessage(frame, get) < 0 || frame.empty()) {
    frame.clear();
    return -1;
  }
  return 1;
}
