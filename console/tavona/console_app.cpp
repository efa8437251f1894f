#include "console/tavona/console_app.h"

#include <QApplication>
#include <cstdio>

#include "console/tavona/access_mode_dlg.h"
#include "console/tavona/splash_wnd.h"
#include "console/tavona/tandle_frame.h"
#include "console/tavona/tandle_view.h"
#include "console/tavona/tavona_ids.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

namespace {

constexpr const char* kGroup = "Initialization";

CConsoleApp* g_app = nullptr;
CConsoleApp::AccessDialogRunner g_access_runner;

}  // namespace

CConsoleApp::CConsoleApp(const QString& settingsPath) : settings_(QStringLiteral("Tavona"), settingsPath) {
  g_app = this;
  (void)tavona::TavonaStringsRegistered();
  platforms = console::ReadAgentPlatforms();
  gnCommMode = platforms.netware && !platforms.windows ? 1 : 3;
  console::SetScpStartFlags();
}

CConsoleApp::~CConsoleApp() {
  delete frame_.data();
  delete splash_.data();
  mapping_.Release();
  if (g_app == this) g_app = nullptr;
}

CTandleFrame* CConsoleApp::CreateFrame() {
  frame_ = new CTandleFrame(this, &doc_);
  return frame_.data();
}

CTandleFrame* CConsoleApp::Frame() const {
  return frame_.data();
}

CSplashWnd* CConsoleApp::Splash() const {
  return splash_.data();
}

CConsoleApp* CConsoleApp::Instance() {
  return g_app;
}

void CConsoleApp::SetAccessDialogRunner(AccessDialogRunner runner) {
  g_access_runner = std::move(runner);
}

bool CConsoleApp::InitInstance(const std::vector<std::string>& args) {
  _InitTremDLL();

  command_line_ = console::ParseCommandLine(args);
  for (const std::string& problem : command_line_.problems)
    std::fprintf(stderr, "Tavona: %s\n", problem.c_str());
  noArguments = command_line_.empty;
  gnCommMode = console::CommModeOf(command_line_.c, gnCommMode);

  showSplashScreen = settings_.ReadInt(kGroup, QStringLiteral("ShowSplashScreen"), showSplashScreen);
  showStartUpDialog = settings_.ReadInt(kGroup, QStringLiteral("ShowStartUpDialog"), showStartUpDialog);
  reconnectLastServer = settings_.ReadInt(kGroup, QStringLiteral("ReconnectLastServer"), reconnectLastServer);
  lastNetwareServer = settings_.ReadString(kGroup, QStringLiteral("LastNetwareServer"), lastNetwareServer);

  if (noArguments) {
    const int last = settings_.ReadInt(kGroup, QStringLiteral("LastCommMode"), gnCommMode);
    if (platforms.windows && platforms.netware && showStartUpDialog != 0) {
      gnCommMode = last == 1 ? 1 : 3;
      CAccessModeDlg dialog(gnCommMode, true);
      const int answer = g_access_runner ? g_access_runner(dialog) : dialog.exec();
      if (answer != QDialog::Accepted) return false;
      gnCommMode = dialog.CommMode();
      showStartUpDialog = dialog.ShowAtStartup() ? 1 : 0;
    } else {
      gnCommMode = last == 1 ? 1 : 3;
    }
  }

  // The local channel has one console end.
  if (gnCommMode == 3 && !mapping_.Take()) {
    if (!mapping_.Refusal().empty()) std::fprintf(stderr, "Tavona: %s\n", mapping_.Refusal().c_str());
    ShowMessageBox(nullptr, QString::fromStdString(console::AlreadyRunningText(mapping_)), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return false;
  }

  doc_.SetHostName(command_line_.h ? QString::fromStdString(*command_line_.h) : QString());

  if (!command_line_.noSplash && showSplashScreen != 0) {
    splash_ = new CSplashWnd();
    splash_->show();
    QApplication::processEvents();
  }

  if (CreateFrame() == nullptr) return false;
  if (gnCommMode == 1 && doc_.HostName().isEmpty()) {
    const auto node = console::NodeOf(command_line_.m);
    frame_->SetIpxHost(console::DecimalOf(command_line_.i).value_or(0),
                       node.value_or(std::array<uint8_t, 6>{}),
                       console::DecimalOf(command_line_.p).value_or(0));
  }
  // The start-up connection runs once the event loop turns; the window stays hidden until the
  // first UPS information arrives.
  QPointer<CTandleFrame> frame = frame_;
  QMetaObject::invokeMethod(
      frame_,
      [frame] {
        if (frame) frame->OnStartConnection();
      },
      Qt::QueuedConnection);
  frame_->hide();
  return true;
}

void CConsoleApp::SaveStartupSettings() {
  settings_.WriteInt(kGroup, QStringLiteral("ShowSplashScreen"), showSplashScreen);
  settings_.WriteInt(kGroup, QStringLiteral("ShowStartUpDialog"), showStartUpDialog);
  settings_.WriteInt(kGroup, QStringLiteral("ReconnectLastServer"), reconnectLastServer);
  if (noArguments) {
    settings_.WriteInt(kGroup, QStringLiteral("LastCommMode"), gnCommMode);
    settings_.WriteString(kGroup, QStringLiteral("LastNetwareServer"), lastNetwareServer);
  }
  if (!settings_.Sync()) std::fprintf(stderr, "Tavona: cannot write %s\n", qPrintable(settings_.Path()));
}

void CConsoleApp::ShowMainWindow() {
  if (shown_) return;
  if (splash_) {
    splash_->close();
    delete splash_.data();
  }
  if (frame_) {
    frame_->show();
    frame_->raise();
  }
  shown_ = true;
  reached_agent_ = true;
}
