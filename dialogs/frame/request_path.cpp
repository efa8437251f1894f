#include "dialogs/frame/request_path.h"

#include <QCoreApplication>
#include <QThread>
#include <vector>

#include "dialogs/frame/console_stop_signals.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/trem_globals.h"

bool ScpQueueWaitGivesWay() {
  if (!StopSignalPending()) return false;
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

ScpQueueLock::ScpQueueLock(AtStop atStop) {
  // The console creates the mutex; the library only opens it.
  if (!mutex_.Open(kScpQueueMutexName)) {
    missing_ = true;
    return;
  }
  const platform::WaitResult r = atStop == AtStop::kGiveWay
                                     ? mutex_.Wait(kScpQueueWaitMs, ScpQueueWaitGivesWay)
                                     : mutex_.Wait(kScpQueueWaitMs);
  locked_ = r == platform::WaitResult::kSignaled;
}

ScpQueueLock::~ScpQueueLock() {
  if (locked_) mutex_.Release();
  mutex_.Close();
}

namespace {

// Index of the host a request goes to, or -1 when there is none.
int ChooseHost(const RequestTarget& target) {
  if (target.selectionLabel.isEmpty()) {
    HostEntry* first = gHosts.GetFirstHost();
    return first != nullptr ? first->GetHostIndex() : -1;
  }
  return gHosts.FindHostByName(target.hostName.toUtf8().constData());
}

}  // namespace

int RequestDataFor(const RequestTarget& target, unsigned block, unsigned branch, unsigned index) {
  KT_HostControl guard(0);
  ScpQueueLock lock;
  if (!lock.locked()) return 0;
  const int host = ChooseHost(target);
  if (host >= 0) {
    gScp.QueueGetRequest(static_cast<int>(block), static_cast<int>(branch), static_cast<int>(index), 0, host);
  }
  return 1;
}

int SendCommandTo(QWidget* boxOwner, const RequestTarget& target, unsigned block, unsigned branch,
                  unsigned index) {
  const int b = static_cast<int>(block);
  const int r = static_cast<int>(branch);
  const int i = static_cast<int>(index);
  int queued = 0;
  std::vector<QString> notCapable;
  {
    KT_HostControl guard(0);
    ScpQueueLock lock;
    if (!lock.locked()) return 0;
    if (target.selectionLabel.isEmpty()) {
      HostEntry* first = gHosts.GetFirstHost();
      if (first != nullptr && gScp.QueueRequest(b, r, i, first->GetHostIndex()) == 1) ++queued;
    } else {
      for (const QString& name : target.hosts) {
        const int host = gHosts.FindHostByName(name.toUtf8().constData());
        if (host < 0) continue;  // a name no longer listed is skipped quietly
        if (!IsHostCapable(block, branch, host)) {
          notCapable.push_back(name);
          continue;
        }
        if (gScp.QueueRequest(b, r, i, host) == 1) ++queued;
      }
    }
  }
  // Boxes run an event loop of their own: never while the guard or the mutex is held.
  for (const QString& name : notCapable) {
    TremMessageBox(boxOwner, NotCapableText(name), MB_OK | MB_ICONEXCLAMATION);
  }
  return queued;
}

int RequestForHost(int hostIndex, unsigned block, unsigned branch, unsigned item, unsigned extraCode) {
  ScpQueueLock lock;
  if (!lock.locked()) return 0;
  return gScp.QueueGetRequest(static_cast<int>(block), static_cast<int>(branch), static_cast<int>(item),
                              static_cast<int>(extraCode), hostIndex) == 1
             ? 1
             : -1;
}

namespace {

// The key bytes of a packed key; empty for a length other than 1 to 3.
std::vector<uint8_t> PackedKeyBytes(uint32_t packedKey) {
  const unsigned length = PackedKeyLength(packedKey);
  if (length < 1 || length > 3) return {};
  const uint8_t bytes[3] = {static_cast<uint8_t>(PackedKeyBlock(packedKey)),
                            static_cast<uint8_t>(PackedKeyBranch(packedKey)),
                            static_cast<uint8_t>(PackedKeyItem(packedKey))};
  return std::vector<uint8_t>(bytes, bytes + length);
}

}  // namespace

int RequestPackedKeyForHost(int hostIndex, uint32_t packedKey) {
  const std::vector<uint8_t> key = PackedKeyBytes(packedKey);
  if (key.empty()) return -1;
  ScpQueueLock lock;
  if (!lock.locked()) return 0;
  return gScp.QueueGetKey(key, 0, hostIndex) == 1 ? 1 : -1;
}

int QueuedRequestsBesides(int hostIndex, const std::vector<uint32_t>& packedKeys) {
  int count = gScp.requestTable.GetCount();
  for (uint32_t packed : packedKeys) {
    const std::vector<uint8_t> key = PackedKeyBytes(packed);
    if (!key.empty() && gScp.requestTable.Find(key.data(), static_cast<int>(key.size()), hostIndex) >= 0) --count;
  }
  return count;
}

bool IsHostCapable(unsigned block, unsigned branch, int hostIndex) {
  HostEntry* host = gHosts.GetHostByIndex(hostIndex);
  if (host == nullptr) return false;
  int byte = -1;
  int bit = 0;
  switch (block) {
    case 4:
      switch (branch) {
        case 1:
          byte = 0;
          bit = 1;
          break;
        case 3:
          byte = 2;
          bit = 3;
          break;
        case 5:
          byte = 0;
          bit = 0;
          break;
        case 6:
          byte = 3;
          bit = 0;
          break;
        case 7:
          byte = 3;
          bit = 4;
          break;
        case 8:
          byte = 0;
          bit = 7;
          break;
        case 9:
          byte = 2;
          bit = 1;
          break;
        default:
          return true;
      }
      break;
    case 5:
      byte = 0;
      bit = 2;
      break;
    case 24:
      byte = 3;
      bit = 1;
      break;
    case 25:
      byte = 3;
      bit = 0;
      break;
    case 27:
      return true;
    default:
      return false;
  }
  auto lock = host->Lock();
  return host->upsInfo.IsFunctionSupported(byte, bit) == 1;
}

QString NotCapableText(const QString& hostName) {
  return QStringLiteral("Host <%1> is not capable of performing this function.").arg(hostName);
}
