#include "trayagent/agent_app.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "agent/engine/agent.h"
#include "agent/service/service_shell.h"
#include "core/base/ktdiag.h"
#include "core/base/setup_data.h"
#include "platform/clock.h"
#include "trayagent/agent_about_dlg.h"
#include "trayagent/agent_frame.h"
#include "trayagent/agent_pictures.h"
#include "trayagent/tray_icon.h"

void AgentCommandLineInfo::ParseParam(const std::string& param, bool flag, bool) {
  if (!flag || param.empty()) return;
  if (param.rfind("con", 0) == 0) {
    trace_ = true;
    return;
  }
  if (param.rfind("dir", 0) == 0) {
    ChangeDirectory(param.size() > 4 ? param.substr(4) : std::string());
    return;
  }
  const char letter = param[0];
  if (letter < 'a' || letter > 'x') return;
  const std::string value = param.size() > 2 ? param.substr(2) : std::string();
  switch (letter) {
    case 'a':
      ChangeDirectory(value);
      break;
    case 'b':
      trace_ = true;
      agent_.foreground = 1;
      break;
    case 'c':
      agent_.adapterName = value;
      break;
    case 'd':
      agent_.deviceName = value;
      break;
    case 'g':
      agent_.readCommunity = value;
      break;
    case 's':
      agent_.writeCommunity = value;
      break;
    case 'x':
      agent_.mode = static_cast<uint8_t>(std::strtol(value.c_str(), nullptr, 10));
      break;
    default:
      break;
  }
}

void AgentCommandLineInfo::ChangeDirectory(const std::string& dir) {
  if (dir.empty() || ::chdir(dir.c_str()) == 0) return;
  // The agent stays in the directory it is in; the user learns why.
  const int error = errno;
  std::error_code ec;
  const std::string current = std::filesystem::current_path(ec).string();
  problems_.push_back("Vigil95: cannot work in " + dir + ": " + std::strerror(error) +
                      "; the working directory stays " + (ec ? std::string("where it was") : current));
}

void AgentCommandLineInfo::ParseCommandLine(const QStringList& arguments) {
  for (int i = 1; i < arguments.size(); ++i) {
    const std::string arg = arguments[i].toStdString();
    const bool flag = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
    ParseParam(flag ? arg.substr(1) : arg, flag, i == arguments.size() - 1);
  }
}

QString TrayTip(int interfaceType) {
  const SetupData setup;
  const QString tip = QString::fromStdString(setup.GetApplicationTypeName(6) + " " + setup.GetApplicationTypeName(8)) +
                      (AgentIsActive(interfaceType) ? " is active" : " is idle");
  return tip.left(kMaxTrayTip);
}

CAgentApp::CAgentApp(TrayAgentEngine& engine, KT_Agent& agent) : engine_(engine), agent_(agent) {
  ticks_.setInterval(kTickMs);
  connect(&ticks_, &QTimer::timeout, this, &CAgentApp::OnIdle);
}

CAgentApp::~CAgentApp() { delete frame_; }

void CAgentApp::SetTrayIcon(std::unique_ptr<TrayIcon> icon) { tray_ = std::move(icon); }

bool CAgentApp::InitInstance(const QStringList& arguments) {
  std::string found;
  if (const int running = engine_.AlreadyRunning(found); running != 0) {
    const char* text = running > 0 ? kAgentAlreadyRunningText : kAgentGuardUnavailableText;
    std::fprintf(stderr, "Vigil95: %s\n", text);
    if (!found.empty()) std::fprintf(stderr, "Vigil95: %s\n", found.c_str());
    engine_.Message(text);
    return false;
  }
  AgentCommandLineInfo commandLine(agent_, trace_);
  commandLine.ParseCommandLine(arguments);
  // A directory that could not be taken: on standard error, or in the trace when it is on
  // (which goes there too; the frame switches it on).
  const auto sayProblems = [&commandLine] {
    for (const std::string& problem : commandLine.Problems()) std::fprintf(stderr, "%s\n", problem.c_str());
  };
  if (!trace_) sayProblems();
  std::string reason;
  if (!engine_.Prepare(reason)) {
    if (trace_) sayProblems();
    engine_.Message(reason);
    return false;
  }
  frame_ = new CAgentFrame(*this, trace_);
  for (const std::string& problem : commandLine.Problems()) Diag() << problem << "\n";
  if (!tray_) tray_ = std::make_unique<SystemTrayIcon>(frame_);
  frame_->setWindowIcon(AgentIcon(kIconRunning));
  frame_->hide();
  return true;
}

void CAgentApp::StartTicks() {
  started_ = true;
  if (stop_signalled_) {
    CloseFrame();
    return;
  }
  ticks_.start();
}

void CAgentApp::CloseFrame() {
  if (!frame_ || closing_) return;
  closing_ = true;
  ticks_.stop();
  QMetaObject::invokeMethod(frame_, "close", Qt::QueuedConnection);
}

void CAgentApp::OnStopSignal() {
  if (stop_signalled_) return;
  stop_signalled_ = true;
  engine_.EndMessages();
  // During the start the box is all there is to answer; StartTicks closes a frame made after.
  if (started_) CloseFrame();
}

void CAgentApp::TraceNoTray() {
  if (!no_tray_traced_) Diag() << "No system tray on this display: the agent runs without its icon\n";
  no_tray_traced_ = true;
}

void CAgentApp::WatchTray() {
  if (!frame_ || !tray_ || !icon_added_) return;
  switch (tray_->Watch()) {
    case TrayChange::kCame:
      no_tray_traced_ = false;
      Diag() << "Tray icon added (icon " << (icon_running_ ? kIconRunning : kIconStartup)
             << "): " << icon_tip_.toStdString() << "\n";
      break;
    case TrayChange::kWent:
      TraceNoTray();
      break;
    case TrayChange::kNone:
      break;
  }
}

void CAgentApp::OnIdle() {
  if (!agentEnabled || closing_) return;
  if (firstIdlePending) {
    UpdateTrayIcon(kTrayAdd, 0);
    firstIdlePending = 0;
    engine_.Initialize();
    UpdateTrayIcon(kTrayModify, 1);
    return;
  }
  const uint64_t now = platform::TickMs();
  if (now <= nextPassTick) return;
  nextPassTick = now + kPassIntervalMs;
  WatchTray();
  UpdateTrayIcon(kTrayModify, 1);
  engine_.Pass();
  if (!engine_.Running()) CloseFrame();
}

void CAgentApp::UpdateTrayIcon(int operation, int running) {
  if (!frame_ || !tray_) return;
  const int type = engine_.InterfaceType();
  if (operation == kTrayModify && type == lastShownInterfaceType) return;
  lastShownInterfaceType = type;
  const QString tip = TrayTip(type);
  if (operation < kTrayAdd || operation > kTrayDelete) return;
  const bool shown = tray_->Apply(operation, running != 0, tip);
  icon_added_ = operation != kTrayDelete;
  icon_running_ = running;
  icon_tip_ = tip;
  static const char* const kDone[] = {"added", "modified", "deleted"};
  if (shown) {
    no_tray_traced_ = false;
    Diag() << "Tray icon " << kDone[operation] << " (icon " << (running ? kIconRunning : kIconStartup)
           << "): " << tip.toStdString() << "\n";
  } else if (icon_added_) {
    TraceNoTray();
  }
}

int CAgentApp::ExitInstance(int exitCode) {
  ticks_.stop();
  engine_.Stop();
  agentEnabled = 0;
  delete frame_;
  frame_ = nullptr;
  return exitCode;
}
