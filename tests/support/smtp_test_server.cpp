#include "tests/support/smtp_test_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SinkScript() {
  const char* src = std::getenv("VIGIL_SOURCE_DIR");
  // Without the variable, the source tree the tests were built from (a compiler cache may
  // make this file's own path relative, so it cannot stand in for it).
  const std::string dir = src != nullptr && src[0] != '\0' ? std::string(src) : std::string(VIGIL_DEFAULT_SOURCE_DIR);
  return dir + "/tools/smtp_sink.py";
}

}  // namespace

std::string ReceivedMail::Headers() const {
  size_t end = content.find("\r\n\r\n");
  return end == std::string::npos ? content : content.substr(0, end + 2);
}

std::string ReceivedMail::Body() const {
  size_t end = content.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : content.substr(end + 4);
}

std::string ReceivedMail::Header(const std::string& name) const {
  std::string headers = Headers();
  std::string wanted = name + ":";
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t eol = headers.find("\r\n", pos);
    if (eol == std::string::npos) eol = headers.size();
    if (headers.compare(pos, wanted.size(), wanted) == 0) {
      std::string value = headers.substr(pos + wanted.size(), eol - pos - wanted.size());
      // Unfold continuation lines.
      while (eol + 2 < headers.size() && (headers[eol + 2] == ' ' || headers[eol + 2] == '\t')) {
        size_t next = headers.find("\r\n", eol + 2);
        if (next == std::string::npos) next = headers.size();
        value += headers.substr(eol + 2, next - eol - 2);
        eol = next;
      }
      size_t b = value.find_first_not_of(' ');
      return b == std::string::npos ? std::string() : value.substr(b);
    }
    pos = eol + 2;
  }
  return {};
}

SmtpTestServer::SmtpTestServer() : SmtpTestServer(Options{}) {}

SmtpTestServer::SmtpTestServer(const Options& options) {
  char tmpl[] = "/tmp/vigil-smtp-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return;
  dir_ = tmpl;
  std::vector<std::string> args = {"/usr/bin/python3", SinkScript(), "--dir", dir_ + "/mail"};
  for (const auto& r : options.reject) {
    args.push_back("--reject");
    args.push_back(r);
  }
  if (!options.auth.empty()) {
    args.push_back("--auth");
    args.push_back(options.auth);
  }
  if (options.maxSize != 0) {
    args.push_back("--max-size");
    args.push_back(std::to_string(options.maxSize));
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::string log = dir_ + "/server.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  pid_ = pid;
  // Wait until the server has written its port (it starts in well under a second); give up
  // when it dies or after 30 s.
  fs::path portFile = fs::path(dir_) / "mail" / "port";
  for (int i = 0; i < 3000; ++i) {
    if (fs::exists(portFile)) {
      port_ = std::atoi(ReadAll(portFile).c_str());
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

SmtpTestServer::~SmtpTestServer() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void SmtpTestServer::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

std::vector<ReceivedMail> SmtpTestServer::Messages() const {
  std::vector<ReceivedMail> out;
  for (int n = 1;; ++n) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "%04d", n);
    fs::path envelope = fs::path(dir_) / "mail" / (std::string(stem) + ".envelope");
    if (dir_.empty() || !fs::exists(envelope)) break;
    ReceivedMail m;
    m.content = ReadAll(fs::path(dir_) / "mail" / (std::string(stem) + ".eml"));
    std::istringstream lines(ReadAll(envelope));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("FROM ", 0) == 0) m.from = line.substr(5);
      if (line.rfind("TO ", 0) == 0) m.to.push_back(line.substr(3));
      if (line.rfind("AUTH ", 0) == 0) m.auth = line.substr(5);
    }
    out.push_back(std::move(m));
  }
  return out;
}

std::string SmtpTestServer::SettingsText(const std::string& extra) const {
  return "server = 127.0.0.1\nport = " + std::to_string(port_) +
         "\nfrom = agent@ups.test\nconnect_timeout = 5\n" + "timeout = 30\n" + extra;
}

}  // namespace testing_support
