#include "console/pommet/exec_window.h"

#include <QCloseEvent>

#include "console/comm/communication.h"
#include "console/pommet/call_dialogs.h"
#include "core/scp/scp_message.h"
#include "dialogs/frame/trem_globals.h"

CommunicationWorker::CommunicationWorker(CommNoticeRelay& relay)
    : thread_(std::make_unique<CCommunication>(&relay)) {}

CommunicationWorker::~CommunicationWorker() = default;

void CommunicationWorker::Start() {
  thread_->start(QThread::LowPriority);
}

bool CommunicationWorker::Stop(unsigned long timeoutMs) {
  return thread_->Stop(timeoutMs);
}

long CommunicationWorker::SetAnswersTaken() const {
  return thread_->SetAnswersTaken();
}

ExecWindow::ExecWindow(ExecWorkerFactory factory) : factory_(std::move(factory)) {
  setWindowTitle(QStringLiteral("Exec"));
  setObjectName(QStringLiteral("Exec"));
  for (const CallDialog& d : CallDialogs()) d.clear();
  relay_.SetMainWindow(this);
  handler_.SetBoxOwner(nullptr);
}

ExecWindow::~ExecWindow() {
  StopWorker(10000);
}

void ExecWindow::SetIpxAddress(uint32_t network, const std::array<uint8_t, 6>& node, uint16_t socket) {
  ipx_network_ = network;
  ipx_node_ = node;
  ipx_socket_ = socket;
}

void ExecWindow::TakeNotices() {
  relay_.SetTarget(this);
}

bool ExecWindow::StartWorker() {
  if (worker_ != nullptr) return true;
  if (!scp_mutex_.IsOpen() && !scp_mutex_.Create(kScpQueueMutexName)) return false;
  worker_ = factory_ ? factory_(relay_) : std::make_unique<CommunicationWorker>(relay_);
  if (worker_ == nullptr) return false;
  worker_->Start();
  return true;
}

bool ExecWindow::StopWorker(unsigned long timeoutMs) {
  bool ended = true;
  if (worker_ != nullptr) {
    ended = worker_->Stop(timeoutMs);
    // A worker that still runs uses the relay and the mutex: it is left alone.
    if (!ended) {
      (void)worker_.release();
      return false;
    }
    worker_.reset();
  }
  scp_mutex_.Close();
  return ended;
}

bool ExecWindow::event(QEvent* e) {
  if (e->type() == kCommNoticeEventType) {
    const CommNotice& notice = static_cast<CommNoticeEvent*>(e)->notice();
    if (notice.answeredSet) {
      ++set_answers_handled_;
      if (notice.status != SCP_SET_OK) refused_changes_.push_back(notice);
    }
    if (notice.message == kNoticeReplyApplied) {
      ++notices_handled_;
      handler_.ProcessNotice(notice);
    }
    return true;
  }
  return QWidget::event(e);
}

bool ExecWindow::SetAnswersHandled() const {
  return worker_ == nullptr || worker_->SetAnswersTaken() == set_answers_handled_;
}

void ExecWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  emit closed();
}
