// Tavona: the central console. It watches one agent's UPS (the agent on this computer unless
// the command line names another) and opens the dialog library's dialogs against it.
#include <signal.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/common/console_start.h"
#include "console/tavona/console_app.h"
#include "console/tavona/tandle_frame.h"
#include "dialogs/frame/console_stop_signals.h"

namespace {

const char kUsage[] =
    "Usage: Tavona [c:MODE] [h:HOST] [g:COMMUNITY] [s:COMMUNITY] [i:NETWORK] [m:NODE] [p:SOCKET] [n]\n"
    "The central console of the Vigil UPS suite: the state of one agent's UPS and the dialogs that\n"
    "configure it. Each argument is a letter, one separator character and a value (c:0, h=ups1).\n"
    "  c:MODE       communication: 0 UDP, 1 IPX, 2 SNMP adapter, 3 the agent on this computer\n"
    "               (the default), 4 every network, 5 the built-in host list; others mean 3\n"
    "  h:HOST       the agent's host (modes 0 and 2), else the host selection opens\n"
    "  g:, s:       the SNMP read and write communities for h (\"marble\", \"harvest\")\n"
    "  i:, m:, p:   the IPX network, node (12 hexadecimal digits) and socket of the host (mode 1)\n"
    "  n            no splash window\n"
    "Settings: $XDG_CONFIG_HOME/Brenvale/Tavona.ini; files: $XDG_DATA_HOME/Brenvale/Tavona.\n"
    "Environment: VIGIL_MESSAGE_LOG=FILE logs message boxes instead of showing them,\n"
    "VIGIL_SCREENSHOT_DIR=DIR saves the main window as PNG at each change of state,\n"
    "VIGIL_AGENT_PLATFORM=FILE names the agent-platform file (/etc/vigil/agent-platform).\n"
    "SIGTERM and SIGINT close the console as its Exit command does (an open box is answered as\n"
    "its Cancel, or its OK).\n"
    "Exit status: 0 once the console has reached its agent, 1 when it ends before (a host that\n"
    "cannot be found, no agent answering within 30 s, another console on the local channel).\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-?") == 0 ||
        std::strcmp(argv[i], "/?") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  std::vector<std::string> args(argv + 1, argv + argc);

  // The console's files (cfgnet.dat, setup.dat, mib.txt) are in its working directory, which
  // the library reads at its start.
  std::string error;
  if (!console::EnterWorkingDirectory(&error)) std::fprintf(stderr, "Tavona: %s\n", error.c_str());

  QApplication qt(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavona"));
  QApplication::setOrganizationName(QStringLiteral("Brenvale"));
  QApplication::setQuitOnLastWindowClosed(false);

  // A stop answers the open box first; a box of the start-up then ends the start (status 1),
  // and a running console closes its main window, which writes its settings.
  ConsoleStopSignals stopSignals;
  CConsoleApp* appPointer = nullptr;
  if (!stopSignals.Install({SIGTERM, SIGINT}, [&appPointer](int) {
        if (appPointer != nullptr && appPointer->Frame() != nullptr) {
          appPointer->Frame()->close();
        } else {
          QApplication::quit();
        }
      })) {
    std::perror("Tavona: the stop signals");
    return 1;
  }

  int rc = 1;
  {
    CConsoleApp app;
    appPointer = &app;
    // Status 0 once the console reached its agent (its main window was shown), whatever came
    // after; 1 when it ended before: no such host, no agent answering, a refused start.
    if (app.InitInstance(args)) {
      qt.exec();
      if (app.ReachedAgent()) rc = 0;
    }
    app.SaveStartupSettings();
    appPointer = nullptr;
  }
  return rc;
}
