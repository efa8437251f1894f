// netbcmsim: a simulated BCM network adapter on UDP, for tests, the demo and trying the agent
// in communication mode 9 by hand (see tools/netbcm_adapter.h for what it answers).
//
//   netbcmsim [--bind ADDRESS] [--port N] [--control SOCKET] [--no-stdin]
//
// Binds ADDRESS (127.0.0.1) and port N (7010; 0 lets the system choose), prints "PORT <n>",
// then "CONTROL <socket>" when one was asked for, then "READY", and serves until "quit", the
// end of standard input (unless --no-stdin), SIGTERM or SIGINT. Control commands are read one
// per line on standard input and on the Unix socket; "help" lists them.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "core/base/error_status.h"
#include "platform/service_settings.h"
#include "tools/netbcm_adapter.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
  g_stop = 1;
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "netbcmsim: %s\n"
               "usage: netbcmsim [--bind ADDRESS] [--port N] [--control SOCKET] [--no-stdin]\n",
               why);
  return 2;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}

// Runs each whole line of `buffer`; false when one of them was "quit".
bool RunLines(netbcmsim::NetBcmAdapter& adapter, std::string& buffer, int out) {
  size_t eol;
  while ((eol = buffer.find('\n')) != std::string::npos) {
    std::string line = buffer.substr(0, eol);
    buffer.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") {
      WriteAll(out, "OK\n");
      return false;
    }
    std::string answer;
    for (const std::string& l : adapter.Control(line)) answer += l + "\n";
    WriteAll(out, answer);
  }
  if (buffer.size() > 4096) buffer.clear();  // no line is that long
  return true;
}

// At the end of a client's input: a last command without its line end still runs.
bool RunLast(netbcmsim::NetBcmAdapter& adapter, std::string& buffer, int out) {
  if (buffer.empty()) return true;
  buffer += '\n';
  return RunLines(adapter, buffer, out);
}

}  // namespace

int main(int argc, char** argv) {
  // Its error records beside the program, not in the folder it is run in (a checkout).
  SetErrorLogFolder(platform::ProgramDirectory());
  netbcmsim::AdapterOptions options;
  std::string control;
  bool useStdin = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--bind") {
      if (!value(&options.bind)) return Usage("--bind needs an address");
    } else if (a == "--port") {
      char* end = nullptr;
      if (!value(&v)) return Usage("--port needs a number");
      const long port = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || port < 0 || port > 65535) return Usage("--port needs 0..65535");
      options.port = static_cast<int>(port);
    } else if (a == "--control") {
      if (!value(&control)) return Usage("--control needs a path");
    } else if (a == "--no-stdin") {
      useStdin = false;
    } else if (a == "--help" || a == "-h") {
      Usage("a simulated BCM network adapter");
      return 0;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }

  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);

  netbcmsim::NetBcmAdapter adapter(options);
  std::string error;
  if (adapter.Start(&error) != 0) {
    std::fprintf(stderr, "netbcmsim: %s\n", error.c_str());
    return 1;
  }
  int listener = -1;
  if (!control.empty()) {
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    if (control.size() >= sizeof sun.sun_path) return Usage("control socket path too long");
    std::strncpy(sun.sun_path, control.c_str(), sizeof sun.sun_path - 1);
    ::unlink(control.c_str());
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&sun), sizeof sun) < 0 ||
        ::listen(listener, 4) < 0) {
      std::fprintf(stderr, "netbcmsim: control socket %s: %s\n", control.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::printf("PORT %u\n", static_cast<unsigned>(adapter.port()));
  if (listener >= 0) std::printf("CONTROL %s\n", control.c_str());
  std::printf("READY\n");
  std::fflush(stdout);

  std::map<int, std::string> clients;  // fd -> unfinished line
  std::string input;
  bool running = true;
  while (running && !g_stop) {
    std::vector<pollfd> fds;
    if (useStdin) fds.push_back({STDIN_FILENO, POLLIN, 0});
    if (listener >= 0) fds.push_back({listener, POLLIN, 0});
    for (const auto& [fd, buffer] : clients) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 200) <= 0) continue;
    for (const pollfd& p : fds) {
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (p.fd == listener) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) clients[fd];
        continue;
      }
      char buffer[1024];
      const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
      if (p.fd == STDIN_FILENO) {
        if (n <= 0) {
          RunLast(adapter, input, STDOUT_FILENO);
          running = false;
          break;
        }
        input.append(buffer, static_cast<size_t>(n));
        if (!RunLines(adapter, input, STDOUT_FILENO)) running = false;
        continue;
      }
      if (n <= 0) {
        if (!RunLast(adapter, clients[p.fd], p.fd)) running = false;
        ::close(p.fd);
        clients.erase(p.fd);
        continue;
      }
      clients[p.fd].append(buffer, static_cast<size_t>(n));
      if (!RunLines(adapter, clients[p.fd], p.fd)) running = false;
    }
  }
  for (const auto& [fd, buffer] : clients) ::close(fd);
  if (listener >= 0) {
    ::close(listener);
    ::unlink(control.c_str());
  }
  adapter.Stop();
  return 0;
}
