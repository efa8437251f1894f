#include "console/comm/scp_handler.h"

#include "console/comm/comm_notice.h"
#include "core/base/ktdiag.h"
#include "dialogs/frame/reply_status.h"
#include "dialogs/frame/request_path.h"

CScpHandler::CScpHandler(QObject* parent) : QObject(parent) {}

int CScpHandler::RequestAgain(unsigned block, unsigned branch, unsigned item, int hostIndex) {
  return RequestForHost(hostIndex, block, branch, item, 0);
}

int CScpHandler::ProcessNotice(const CommNotice& notice) {
  return ProcessStatus(notice.key, notice.status, notice.hostIndex);
}

int CScpHandler::ProcessStatus(uint32_t packedKey, int status, int hostIndex) {
  ReplyStatusOutcome outcome = ActOnReplyStatus(packedKey, status, hostIndex, box_owner_.data());
  last_text_ = std::move(outcome.text);
  if (!outcome.shown) Diag() << last_text_.toStdString() << "\n";
  return outcome.routed;
}
