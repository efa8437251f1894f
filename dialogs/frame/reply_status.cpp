#include "dialogs/frame/reply_status.h"

#include <vector>

#include "core/scp/scp_message.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"

uint32_t PackedKeyOf(const KT_ScpMessage& m) {
  return PackScpKey(static_cast<unsigned>(m.KeyLength()), m.KeyByte(0), m.KeyByte(1), m.KeyByte(2));
}

bool ApplyReplyToScp(const KT_ScpMessage& message, int& status) {
  auto lock = gScp.Lock();
  std::vector<uint8_t> none;
  if (gScp.ExecuteCommand(message, none) < 0) return false;
  if (message.type == SCP_STATUS) {
    status = message.data.empty() ? 8 : message.data[0];
  } else {
    KT_Block* block = gScp.GetBlock(message.KeyByte(kScpKeyBlock));
    status = block != nullptr ? block->GetStatus() : SCP_GET_OK;
  }
  return true;
}

void RemoveAnsweredRequest(const KT_ScpMessage& message, int hostIndex) {
  ScpQueueLock queue;
  if (!queue.locked()) return;
  if (gScp.requestTable.GetCount() > 0) {
    gScp.requestTable.Remove(message.key.data(), message.KeyLength(), hostIndex);
  }
}

KT_Block* ReplyStatusBlock(unsigned block) {
  const bool hasStatus = (block >= 1 && block <= 9) || (block >= 24 && block <= 28);
  return hasStatus ? gScp.GetBlock(static_cast<int>(block)) : nullptr;
}

ReplyStatusOutcome ActOnReplyStatus(uint32_t packedKey, int status, int hostIndex, QWidget* boxOwner) {
  const unsigned length = PackedKeyLength(packedKey);
  const unsigned block = PackedKeyBlock(packedKey);
  const unsigned branch = PackedKeyBranch(packedKey);
  const unsigned item = PackedKeyItem(packedKey);
  const QString address =
      QStringLiteral("SCP Status: FieldAddress=%1,%2,%3 - ").arg(block).arg(branch).arg(item);
  ReplyStatusOutcome out;
  auto box = [&](const char* what) {
    out.text = address + QLatin1String(what);
    out.shown = true;
    TremMessageBox(boxOwner, out.text, MB_OK);
  };
  switch (status) {
    case SCP_GET_RESEND:
      out.text = address + QStringLiteral("Get Resend");
      // Asked again of the host that answered (a dialog for one host never gets another's
      // data), with the answer's own key: a key ending in 0, such as the discovery's (2, 1, 0),
      // keeps its length.
      if (length >= 1 && length <= 3) RequestPackedKeyForHost(hostIndex, packedKey);
      break;
    case SCP_SET_OK:
    case SCP_GET_OK: {
      out.text = address + (status == SCP_SET_OK ? QStringLiteral("Set OK") : QStringLiteral("Get OK"));
      out.routed = RouteScpReply(static_cast<unsigned>(status), packedKey);
      KT_Block* b = ReplyStatusBlock(block);
      if (b != nullptr) {
        auto lock = gScp.Lock();
        b->SetStatus(255);
      }
      break;
    }
    case SCP_SET_FAILED:
      box("Set Failed");
      break;
    case SCP_GET_FAILED:
      box("Get Failed");
      break;
    case SCP_INVALID_PACKET:
      box("Invalid packet");
      break;
    case SCP_NOT_AVAILABLE:
      // The routing table knows which open dialog takes it; with none open, the box.
      out.routed = RouteScpReply(SCP_NOT_AVAILABLE, packedKey);
      if (out.routed > 0) {
        out.text = address + QStringLiteral("Not Available");
      } else {
        box("Not Available");
      }
      break;
    default:
      out.text = address + QStringLiteral("Bad SCP Status = %1").arg(status);
      break;
  }
  return out;
}
