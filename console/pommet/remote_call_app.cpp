#include "console/pommet/remote_call_app.h"

#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>

#include "console/pommet/call_dialogs.h"
#include "core/network/udp.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/name_resolver.h"

namespace {

constexpr int kIdleHostId = 3630;  // "Idle"

const StringTableRegistrar kPommetStrings{{RemoteCallApp::kTitleStringId, "Tremona\u00AE Pommet"}};

// A UDP channel can be opened: one is built and closed again.
bool UdpChannelOpens() {
  KT_UDP udp;
  udp.Initialize();
  const bool open = udp.OpenChannel(0) == 0;
  udp.CloseChannel();
  return open;
}

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

RemoteCallApp::RemoteCallApp(ExecWorkerFactory workerFactory) : worker_factory_(std::move(workerFactory)) {
  gnCommMode = 0;
  if (UdpChannelOpens()) gScp.SetFlag(SCP_FLAG_UDP_OPEN);
  console::SetScpStartFlags();
  start_flag_ = true;
  idle_timer_.setInterval(kIdleTickMs);
  connect(&idle_timer_, &QTimer::timeout, this, &RemoteCallApp::OnIdle);
}

RemoteCallApp::~RemoteCallApp() {
  // A window whose worker would not end is left to the end of the process.
  if (window_ != nullptr && !window_->StopWorker(kWorkerStopMs)) (void)window_.release();
}

bool RemoteCallApp::InitInstance(const std::vector<std::string>& args) {
  if (!args.empty()) {
    line_ = console::ParseCommandLine(args);
    for (const std::string& problem : line_.problems) std::fprintf(stderr, "Pommet: %s\n", problem.c_str());
    gnCommMode = console::CommModeOf(line_.c, gnCommMode);
    dialog_index_ = static_cast<int>(console::DecimalOf(line_.e).value_or(0));
    host_name_ = line_.h.value_or("");
    read_community_ = line_.g.value_or("");
    write_community_ = line_.s.value_or("");
  }
  _InitTremDLL();
  gcsMessageBoxTitle = LoadString(kTitleStringId);
  // The local channel has one console end: one console at a time uses it.
  if (gnCommMode == 3 && !gui_running_.Take()) {
    if (!gui_running_.Refusal().empty()) std::fprintf(stderr, "Pommet: %s\n", gui_running_.Refusal().c_str());
    TremMessageBox(nullptr, QString::fromStdString(console::AlreadyRunningText(gui_running_)));
    return false;
  }
  window_ = std::make_unique<ExecWindow>(worker_factory_);
  connect(window_.get(), &ExecWindow::closed, this, &RemoteCallApp::OnWindowClosed);
  if (gnCommMode == 1 && host_name_.empty()) {
    const uint32_t network = console::DecimalOf(line_.i).value_or(0);
    const std::array<uint8_t, 6> node = console::NodeOf(line_.m).value_or(std::array<uint8_t, 6>{});
    const uint32_t socket = console::DecimalOf(line_.p).value_or(0);
    window_->SetIpxAddress(network, node, static_cast<uint16_t>(socket));
  }
  return true;
}

int RemoteCallApp::Run() {
  if (!quit_posted_) {
    idle_timer_.start();
    loop_.exec();
  }
  idle_timer_.stop();
  return ExitCode();
}

bool RemoteCallApp::ExitInstance() {
  idle_timer_.stop();
  // A dialog still open (the worker's critical error ended the program) goes first.
  if (const CallDialog* dialog = FindCallDialog(dialog_index_)) delete dialog->pointer->dialog();
  if (window_ == nullptr) return true;
  if (!window_->StopWorker(kWorkerStopMs)) {
    std::fprintf(stderr, "Pommet: the communication worker did not end\n");
    return false;
  }
  window_.reset();
  return true;
}

void RemoteCallApp::OnIdle() {
  if (quit_posted_) return;
  if (start_flag_) {
    start_flag_ = false;
    LaunchDialog();
    return;
  }
  if (!finishing_) {
    if (!IsDialogClosed()) return;
    // The dialog's OK may have queued changes just before it closed: the worker sends them
    // and their answers come in before the program ends.
    finishing_ = true;
    finish_deadline_.setRemainingTime(static_cast<qint64>(KT_SCPBase::CommTimeout()) * 1000);
  }
  if (ChangesSettled() || finish_deadline_.hasExpired()) Quit();
}

bool RemoteCallApp::ChangesSettled() const {
  {
    ScpQueueLock queue;
    // A wait that gave way to a stop signal tells nothing: asked again at the next turn.
    if (!queue.locked() && !queue.missing()) return false;
    if (queue.locked() && !gScp.requestTable.KeysOfType(SCP_SET).empty()) return false;
  }
  // The table is read first: an answer's request leaves it only after the answer is counted.
  return window_ == nullptr || window_->SetAnswersHandled();
}

void RemoteCallApp::ReportLostChanges() {
  auto say = [](const char* what, unsigned block, unsigned branch, unsigned item, const std::string& why) {
    std::fprintf(stderr, "Pommet: the agent did not %s the change of %u,%u,%u%s\n", what, block, branch, item,
                 why.c_str());
  };
  if (window_ != nullptr) {
    for (const CommNotice& n : window_->RefusedChanges()) {
      say("take", PackedKeyBlock(n.key), PackedKeyBranch(n.key), PackedKeyItem(n.key),
          ": " + ScpReplyCodeText(n.status));
      changes_lost_ = true;
    }
  }
  std::vector<std::vector<uint8_t>> left;
  {
    ScpQueueLock queue(ScpQueueLock::AtStop::kWait);
    if (queue.locked()) left = gScp.requestTable.KeysOfType(SCP_SET);
  }
  for (const std::vector<uint8_t>& key : left) {
    auto at = [&](size_t i) { return i < key.size() ? unsigned{key[i]} : 0u; };
    say("answer", at(0), at(1), at(2), "");
    changes_lost_ = true;
  }
}

void RemoteCallApp::LaunchDialog() {
  // 1. The boxes' title; the window receives the worker's notices.
  gcsMessageBoxTitle = LoadString(kTitleStringId);
  if (window_ == nullptr) return;
  window_->TakeNotices();

  // 2. The host's address by mode; modes 4 and 5 open nothing.
  KT_Address address;
  switch (gnCommMode) {
    case 0:
    case 2:
    case 3:
      address.SetType(gnCommMode == 0 ? ADDRESS_IP : ADDRESS_SNMP);
      address.SetPort(htons(kScpUdpPort));
      if (!host_name_.empty()) {
        address.SetHostName(host_name_.c_str());
      } else if (gnCommMode == 3) {
        // The local channel's agent is this computer's.
        std::string local;
        if (platform::GetNameResolver().LocalHostName(local)) address.SetHostName(local.c_str());
      }
      address.SetReadCommunity(read_community_.c_str());
      address.SetWriteCommunity(write_community_.c_str());
      break;
    case 1:
      address.SetType(ADDRESS_IPX);
      address.SetPort(htons(window_->IpxSocket()));
      address.SetIpAddress(htonl(window_->IpxNetwork()));
      address.SetNode(window_->IpxNode().data());
      if (!host_name_.empty()) address.SetHostName(host_name_.c_str());
      break;
    default:
      return;
  }

  // 3. The host enters the table; its name is the dialog's.
  {
    KT_HostControl writer;
    gHosts.AddHost(address);
    HostEntry* first = gHosts.GetFirstHost();
    if (first == nullptr) {
      host_name_ = LoadString(kIdleHostId).toStdString();
    } else if (gnCommMode != 1) {
      const char* name = first->Address().GetHostName();
      host_name_ = name != nullptr ? name : "";
    }
  }

  // 4. The mutex, then the worker, which is not waited for: the first request below is sent
  // at its first step.
  if (!window_->StartWorker()) {
    std::fprintf(stderr, "Pommet: the mutex \"%s\" cannot be created\n", kScpQueueMutexName);
    return;
  }

  // 5. The UPS information of host 1.
  RequestForHost(1, BLOCK_UPS_INFO, 0, 0);

  // 6. The dialog.
  const CallDialog* dialog = FindCallDialog(dialog_index_);
  if (dialog == nullptr) return;
  dialog->open(Text(host_name_));
  dialog_opened_ = static_cast<bool>(*dialog->pointer);
}

bool RemoteCallApp::IsDialogClosed() {
  const CallDialog* dialog = FindCallDialog(dialog_index_);
  if (dialog == nullptr) {
    TremMessageBox(nullptr, QStringLiteral("ERROR: Invalid dialog specified"));
    return true;
  }
  return !static_cast<bool>(*dialog->pointer);
}

void RemoteCallApp::CloseDialog() {
  const CallDialog* dialog = FindCallDialog(dialog_index_);
  KTDialog* open = dialog != nullptr ? dialog->pointer->dialog() : nullptr;
  if (open != nullptr && open->WindowExists()) {
    open->DestroyWindow();
  } else {
    Quit();
  }
}

void RemoteCallApp::Quit() {
  if (!quit_posted_) ReportLostChanges();
  quit_posted_ = true;
  idle_timer_.stop();
  loop_.exit(0);
}

void RemoteCallApp::OnWindowClosed() {
  critical_ = true;
  Quit();
}

bool RemoteCallApp::InstallStopSignals() {
  // An open box is answered first (its Cancel, or its OK); then the dialog closes.
  return stop_signals_.Install({SIGTERM, SIGINT, SIGHUP}, [this](int) { CloseDialog(); });
}
