#include "trayagent/vigil95_engine.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <filesystem>

#include "agent/engine/agent.h"
#include "agent/service/agent_assembly.h"
#include "agent/service/stop_signals.h"
#include "core/scp/scp.h"
#include "platform/message_log.h"
#include "platform/service_settings.h"
#include "trayagent/agent_strings.h"
#include "trayagent/qt_message_boxes.h"
#include "trayagent/win95_services.h"

namespace {

// The shell's box on the screen, and whether the program is stopping (user-interface thread).
QPointer<QMessageBox> g_shell_box;
bool g_shell_messages_ended = false;

}  // namespace

void ShowShellMessage(const std::string& text) {
  const std::string caption = kStringAppTitle;
  const std::string log = platform::MessageLogPath();
  if (!log.empty()) {
    platform::AppendMessageLog(log, caption, text, "OK");
    return;
  }
  if (g_shell_messages_ended) return;
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
  g_shell_box = &box;
  box.exec();
}

void EndShellMessages() {
  g_shell_messages_ended = true;
  if (g_shell_box) g_shell_box->done(QMessageBox::Ok);
}

Vigil95Engine::Vigil95Engine(KT_SCP& scp, KT_Win95Services& services, KT_Agent& agent, StopSignalWatcher* stopSignals)
    : scp_(scp), services_(services), agent_(agent), signals_(stopSignals), boxes_(std::make_shared<KT_QtMessageBoxes>()) {
  services_.UseMessageBoxes(boxes_);
  services_.SetBell([] { QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); }, Qt::QueuedConnection); });
}

Vigil95Engine::~Vigil95Engine() {
  services_.UseMessageBoxes(nullptr);
  SetAgentServices(nullptr);
}

int Vigil95Engine::AlreadyRunning(std::string& found) {
  const int running = services_.IsAlreadyRunning();
  found = services_.SingleInstanceProblem();
  return running;
}

bool Vigil95Engine::Prepare(std::string& reason) {
  platform::ServiceSettings settings;
  std::string error;
  if (!platform::LoadServiceSettings(settings, error)) {
    reason = "Vigil95: settings: " + error;
    return false;
  }
  platform::SetServiceSettings(settings);
  std::error_code ec;
  const std::string dataDirectory = std::filesystem::current_path(ec).string();
  if (ec) {
    reason = "Vigil95: the working directory cannot be used: " + ec.message();
    return false;
  }
  if (const std::string problem = DirectoryProblem(dataDirectory); !problem.empty()) {
    reason = "Vigil95: the data directory " + dataDirectory + " cannot be used: " + problem;
    return false;
  }
  SetAgentServices(&services_);
  assembly_ = std::make_unique<AgentAssembly>(scp_, services_, services_.Effects(), agent_, settings, dataDirectory);
  return true;
}

void Vigil95Engine::Initialize() {
  initialized_ = true;
  agent_.InitializeAgent();
}

void Vigil95Engine::Pass() {
  if (signals_) signals_->RetryPending();
  agent_.MonitorLoop();
}

bool Vigil95Engine::Running() { return services_.IsRunning(); }

int Vigil95Engine::InterfaceType() {
  auto lock = scp_.Lock();
  return scp_.upsInfo.GetInterfaceType();
}

void Vigil95Engine::Stop() {
  // An agent that never initialised has read none of its record files: writing them now would
  // put its defaults over them.
  if (!assembly_ || !initialized_) return;
  services_.StopAgent(1);
}

void Vigil95Engine::Message(const std::string& text) { ShowShellMessage(text); }

void Vigil95Engine::EndMessages() {
  EndShellMessages();
}

bool Vigil95Engine::Finish() {
  boxes_->CloseAll();
  const bool ended = services_.JoinThreads(0) && services_.WaitMessageBox(2000);
  if (assembly_) assembly_->StopTrapHandoff();
  SetAgentServices(nullptr);
  return ended;
}
