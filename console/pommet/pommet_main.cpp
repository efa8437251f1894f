// Pommet: the call console. See console/pommet/remote_call_app.h.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "console/common/console_start.h"
#include "console/pommet/remote_call_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // The dialogs keep their files in the consoles' folder; failing that, where we were started.
  std::string error;
  if (!console::EnterWorkingDirectory(&error)) std::fprintf(stderr, "Pommet: %s\n", error.c_str());

  std::vector<std::string> args;
  for (int k = 1; k < argc; ++k) args.emplace_back(argv[k] != nullptr ? argv[k] : "");
  int code = 1;
  bool ended = true;
  {
    RemoteCallApp app;
    app.InstallStopSignals();
    if (app.InitInstance(args)) code = app.Run();
    ended = app.ExitInstance();
    if (!ended) {
      // The worker still uses the program's objects: end without their destructors.
      std::fflush(nullptr);
      _exit(code);
    }
  }
  return code;
}
