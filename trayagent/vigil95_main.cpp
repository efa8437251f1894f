// Vigil95: the desktop agent. See trayagent/agent_app.h.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstring>

#include "agent/engine/agent.h"
#include "agent/service/stop_signals.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "trayagent/agent_app.h"
#include "trayagent/vigil95_engine.h"
#include "trayagent/win95_services.h"

namespace {

const char kUsage[] =
    "Usage: Vigil95 [-a:DIR] [-b] [-c:ADAPTER] [-d:DEVICE] [-g:COMMUNITY] [-s:COMMUNITY] [-x:MODE]\n"
    "The Vigil UPS agent on a user's desktop, shown as an icon in the notification area. Options\n"
    "are flags written -L:VALUE or /L:VALUE; the working directory holds the agent's record files.\n"
    "  -a:DIR, -dir:DIR   work in DIR\n"
    "  -b, -con           trace on standard error\n"
    "  -c:ADAPTER         watch the UPS through this network adapter (a host, or host:port)\n"
    "  -d:DEVICE          the serial port of the UPS\n"
    "  -g:, -s:           the adapter's read and write communities\n"
    "  -x:MODE            forced communication mode (5 idle, 8 SNMP adapter, 9 network BCM adapter)\n"
    "  --help             print this and end\n"
    "A DIR that cannot be entered is said on standard error (in the trace with -b), and the agent\n"
    "works in the directory it was started in.\n"
    "Settings: /etc/vigil/VigilNT.conf, or the file VIGIL_AGENT_CONF names.\n"
    "Environment: VIGIL_MESSAGE_LOG=FILE logs message boxes instead of showing them.\n"
    "SIGTERM, SIGINT and SIGHUP stop the agent (an open box is answered OK): the record files are\n"
    "written and the program ends. One agent runs on a machine: a second one ends with status 1.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-?") == 0 ||
        std::strcmp(argv[i], "/?") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  KT_SCP& scp = GetProcessScp();
  // The stop signals reach the user-interface thread through this pipe, in whichever event loop
  // turns (an open box's too): the shell decides what a stop means at that moment.
  int stopPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("Vigil95: pipe");
    return 1;
  }
  // Before any thread starts, so that every thread leaves the stop signals to the watcher.
  StopSignalWatcher watcher;
  watcher.SetStopHook([fd = stopPipe[1]](int sig) {
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  });
  watcher.Start(scp, {SIGTERM, SIGINT, SIGHUP}, {SIGTERM, SIGINT, SIGHUP});
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  KT_Win95Services services(scp);
  KtDiag::EnableOutput(false);
  KT_Agent agent(scp, services);
  Vigil95Engine engine(scp, services, agent, &watcher);
  CAgentApp theApp(engine, agent);
  QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, [&theApp, fd = stopPipe[0]] {
    unsigned char bytes[16];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
    theApp.OnStopSignal();
  });
  if (!theApp.InitInstance(QApplication::arguments())) {
    watcher.Stop();
    return 1;
  }
  theApp.StartTicks();
  QApplication::exec();
  int code = theApp.ExitInstance(0);
  // A stop that could not write every record file is not a clean one.
  if (code == 0 && services.RecordFilesUnwrittenAtStop()) code = kRecordFilesUnwrittenExitStatus;
  const bool ended = engine.Finish();
  watcher.Stop();
  if (!ended) {
    // A thread that did not stop still uses the agent's objects: end the process without
    // running their destructors.
    std::fflush(nullptr);
    _exit(code);
  }
  return code;
}
