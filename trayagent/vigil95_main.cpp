// Vigil95: the desktop agent. See trayagent/agent_app.h.
#include <QApplication>

#include <cstdio>
#include <unistd.h>

#include "agent/engine/agent.h"
#include "agent/service/stop_signals.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "trayagent/agent_app.h"
#include "trayagent/vigil95_engine.h"
#include "trayagent/win95_services.h"

int main(int argc, char** argv) {
  KT_SCP& scp = GetProcessScp();
  // Before any thread starts, so that every thread leaves the stop signals to the watcher:
  // SIGTERM, SIGINT and SIGHUP post the terminate command, the next pass stops the agent.
  StopSignalWatcher watcher;
  watcher.Start(scp, {SIGTERM, SIGINT, SIGHUP}, {SIGTERM, SIGINT, SIGHUP});
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  KT_Win95Services services(scp);
  KtDiag::EnableOutput(false);
  KT_Agent agent(scp, services);
  Vigil95Engine engine(scp, services, agent, &watcher);
  CAgentApp theApp(engine, agent);
  if (!theApp.InitInstance(QApplication::arguments())) {
    watcher.Stop();
    return 1;
  }
  theApp.StartTicks();
  QApplication::exec();
  const int code = theApp.ExitInstance(0);
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
