// upssim: a simulated UPS on a pseudo-terminal, for tests, the demo and trying the agent by hand.
//
//   upssim [--mode apc|contact|modem|pager|bcm|varnis] [--control SOCKET] [--log FILE] [--link PATH] [--no-stdin]
//
// Prints "PTY <slave device>", then "CONTROL <socket>" when one was asked for, then "READY",
// and serves until "quit", the end of standard input (unless --no-stdin), SIGTERM or SIGINT.
// Commands are read on standard input and on the socket; "help" lists them.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/base/error_status.h"
#include "platform/service_settings.h"
#include "tools/ups_simulator.h"

namespace {

upssim::UpsSimulator* g_simulator = nullptr;

void OnSignal(int) {
  if (g_simulator) g_simulator->RequestStop();
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "upssim: %s\n"
               "usage: upssim [--mode apc|contact|modem|pager|bcm|varnis] [--control SOCKET] [--log FILE]\n"
               "              [--link PATH] [--no-stdin]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Its error records beside the program, not in the folder it is run in (a checkout).
  SetErrorLogFolder(platform::ProgramDirectory());
  upssim::SimOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (a == "--mode") {
      if (!value(&options.mode)) return Usage("--mode needs a value");
    } else if (a == "--control") {
      if (!value(&options.control_path)) return Usage("--control needs a path");
    } else if (a == "--log") {
      if (!value(&options.log_path)) return Usage("--log needs a path");
    } else if (a == "--link") {
      if (!value(&options.link_path)) return Usage("--link needs a path");
    } else if (a == "--no-stdin") {
      options.stdin_control = false;
    } else if (a == "--help" || a == "-h") {
      Usage("a simulated UPS on a pseudo-terminal");
      return 0;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }

  ::signal(SIGPIPE, SIG_IGN);
  upssim::UpsSimulator simulator(options);
  std::string error;
  if (simulator.Start(&error) != 0) {
    std::fprintf(stderr, "upssim: %s\n", error.c_str());
    return 1;
  }
  g_simulator = &simulator;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);

  std::printf("PTY %s\n", simulator.device_path().c_str());
  if (!options.control_path.empty()) std::printf("CONTROL %s\n", options.control_path.c_str());
  std::printf("READY\n");
  std::fflush(stdout);
  const int status = simulator.Run();
  g_simulator = nullptr;
  return status;
}
