#include "console/comm/scp_handler.h"

#include "console/comm/comm_notice.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp_message.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"

namespace {

bool HasStatusByte(unsigned block) {
  return (block >= 1 && block <= 9) || (block >= 24 && block <= 28);
}

}  // namespace

CScpHandler::CScpHandler(QObject* parent) : QObject(parent) {}

int CScpHandler::RequestAgain(unsigned block, unsigned branch, unsigned item, int hostIndex) {
  return RequestForHost(hostIndex, block, branch, item, 0);
}

int CScpHandler::ProcessNotice(const CommNotice& notice) {
  return ProcessStatus(notice.key, notice.status, notice.hostIndex);
}

int CScpHandler::ProcessStatus(uint32_t packedKey, int status, int hostIndex) {
  const unsigned length = PackedKeyLength(packedKey);
  const unsigned block = PackedKeyBlock(packedKey);
  const unsigned branch = PackedKeyBranch(packedKey);
  const unsigned item = PackedKeyItem(packedKey);
  const QString address =
      QStringLiteral("SCP Status: FieldAddress=%1,%2,%3 - ").arg(block).arg(branch).arg(item);
  int routed = 0;
  bool shown = false;
  auto box = [&](const char* what) {
    last_text_ = address + QLatin1String(what);
    shown = true;
    TremMessageBox(box_owner_.data(), last_text_, MB_OK);
  };
  switch (status) {
    case SCP_GET_RESEND:
      last_text_ = address + QStringLiteral("Get Resend");
      // Asked again of the host that answered: a dialog for one host never gets another's data.
      if (length == 1) {
        RequestAgain(block, 0, 0, hostIndex);
      } else if (length == 2) {
        RequestAgain(block, branch, 0, hostIndex);
      } else if (length == 3) {
        RequestAgain(block, branch, item, hostIndex);
      }
      break;
    case SCP_SET_OK:
    case SCP_GET_OK: {
      last_text_ = address + (status == SCP_SET_OK ? QStringLiteral("Set OK") : QStringLiteral("Get OK"));
      routed = RouteScpReply(static_cast<unsigned>(status), packedKey);
      if (HasStatusByte(block)) {
        KT_Block* b = gScp.GetBlock(static_cast<int>(block));
        if (b != nullptr) {
          auto lock = gScp.Lock();
          b->SetStatus(255);
        }
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
    case SCP_NOT_AVAILABLE: {
      DialogSlot target = DialogSlot::Count;
      if (block == 4 && (branch == 11 || branch == 13)) target = DialogSlot::SerialDeviceConfig;
      if (block == 4 && branch == 12) target = DialogSlot::NetworkAdapterConfig;
      if (target != DialogSlot::Count && DialogIsOpen(DialogInSlot(target))) {
        last_text_ = address + QStringLiteral("Not Available");
        routed = RouteScpReply(SCP_NOT_AVAILABLE, packedKey);
      } else {
        box("Not Available");
      }
      break;
    }
    default:
      last_text_ = address + QStringLiteral("Bad SCP Status = %1").arg(status);
      break;
  }
  if (!shown) Diag() << last_text_.toStdString() << "\n";
  return routed;
}
