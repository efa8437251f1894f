#include "tests/support/snmp_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef VIGIL_DEFAULT_SOURCE_DIR
#define VIGIL_DEFAULT_SOURCE_DIR "."
#endif

extern char** environ;

namespace testing_support {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  // a last line without its newline is still being written
  if (!text.empty() && text.back() != '\n' && !lines.empty()) lines.pop_back();
  return lines;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return parts;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char c = text[++i];
      out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    } else {
      out += text[i];
    }
  }
  return out;
}

fs::path MakeTempDir(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return {};
  return fs::path(buffer.data());
}

void RemoveTempDir(const fs::path& dir) {
  if (dir.empty() || std::getenv("VIGIL_KEEP_PEER_DIRS") != nullptr) return;
  std::error_code ec;
  fs::remove_all(dir, ec);
}

bool WriteFile(const fs::path& path, const std::string& text, mode_t mode = 0644) {
  fs::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) return false;
  }
  chmod(temp.c_str(), mode);
  return rename(temp.c_str(), path.c_str()) == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// An SNMPv1 GET of sysUpTime.0: answered by the peer as soon as snmpd and the adapter script
// serve requests.
std::vector<uint8_t> ProbePacket(const std::string& community, uint8_t requestId) {
  const uint8_t varbinds[] = {0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02,
                              0x01, 0x01, 0x03, 0x00, 0x05, 0x00};
  std::vector<uint8_t> pdu = {0xA0, 0x19, 0x02, 0x01, requestId, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
  pdu.insert(pdu.end(), std::begin(varbinds), std::end(varbinds));
  std::vector<uint8_t> body = {0x02, 0x01, 0x00, 0x04, static_cast<uint8_t>(community.size())};
  body.insert(body.end(), community.begin(), community.end());
  body.insert(body.end(), pdu.begin(), pdu.end());
  std::vector<uint8_t> message = {0x30, static_cast<uint8_t>(body.size())};
  message.insert(message.end(), body.begin(), body.end());
  return message;
}

// Sends one probe and waits up to waitMs for any answer from the port.
bool ProbeAnswers(uint16_t port, const std::string& community, uint8_t requestId, int waitMs) {
  if (community.size() > 90) return false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool answered = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
    std::vector<uint8_t> packet = ProbePacket(community, requestId);
    if (send(fd, packet.data(), packet.size(), 0) == static_cast<ssize_t>(packet.size())) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, waitMs) == 1 && (p.revents & POLLIN)) {
        uint8_t buffer[1500];
        answered = recv(fd, buffer, sizeof buffer, 0) > 0;
      }
    }
  }
  close(fd);
  return answered;
}

bool PortBound(uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRINUSE;
  close(fd);
  return bound;
}

int CountOccurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

bool EndpointRefused(const std::string& log) {
  return log.find("Error opening specified endpoint") != std::string::npos ||
         log.find("couldn't open") != std::string::npos || log.find("Address already in use") != std::string::npos;
}

const char* const kSnmpModules = "pass_persist,vacm_conf,vacm_vars";

}  // namespace

// ---- DaemonProcess ------------------------------------------------------------------------

DaemonProcess::~DaemonProcess() { Stop(); }

bool DaemonProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& log) {
  Stop();
  if (argv.empty()) return false;
  int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (logFd < 0) return false;
  int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nullFd < 0) {
    close(logFd);
    return false;
  }
  // Everything the child needs is built before fork.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : env) replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t parent = getpid();

  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(nullFd, 0);
    dup2(logFd, 1);
    dup2(logFd, 2);
    setpgid(0, 0);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(logFd);
  close(nullFd);
  if (pid < 0) return false;
  pid_ = pid;
  return true;
}

bool DaemonProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  pid_ = -1;
  return false;
}

void DaemonProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

// ---- helpers ------------------------------------------------------------------------------

uint16_t FreeUdpPort() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

std::string FindProgram(const std::string& name) {
  std::vector<std::string> dirs = {"/usr/sbin", "/usr/local/sbin", "/sbin"};
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    size_t start = 0;
    for (;;) {
      size_t colon = all.find(':', start);
      dirs.push_back(all.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string SourceDir() {
  if (const char* dir = std::getenv("VIGIL_SOURCE_DIR"); dir != nullptr && *dir != '\0') return dir;
  return VIGIL_DEFAULT_SOURCE_DIR;
}

std::string ShippedMibPath() {
  return SourceDir() + "/packaging/mib.txt";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);  // bytes stand for Latin-1 characters
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// ---- SnmpAdapterPeer ----------------------------------------------------------------------

SnmpAdapterPeer::SnmpAdapterPeer(std::string readCommunity, std::string writeCommunity)
    : readCommunity_(std::move(readCommunity)), writeCommunity_(std::move(writeCommunity)) {
  dir_ = MakeTempDir("vigil-snmpd");
  WriteState();
}

SnmpAdapterPeer::~SnmpAdapterPeer() {
  Stop();
  RemoveTempDir(dir_);
}

std::string SnmpAdapterPeer::peerName() const { return host_ + ":" + std::to_string(port_); }

bool SnmpAdapterPeer::WriteFiles() {
  const std::string script = SourceDir() + "/tools/ups_mib_peer.py";
  if (access(script.c_str(), R_OK) != 0) {
    error_ = "adapter script not found: " + script;
    return false;
  }
  std::string wrapper = "#!/bin/sh\nexec /usr/bin/python3 " + ShellQuote(script) + " --state " +
                        ShellQuote((dir_ / "state.json").string()) + " --set-log " +
                        ShellQuote((dir_ / "sets.log").string()) + " --request-log " +
                        ShellQuote((dir_ / "requests.log").string()) + "\n";
  std::string conf =
      "# Test peer: a UPS network adapter on loopback.\n"
      "view vigil included .1.3.6.1.2.1.1\n"
      "view vigil included .1.3.6.1.2.1.2\n"
      "view vigil included .1.3.6.1.2.1.33\n"
      "view vigil included .1.3.6.1.4.1.32473\n";
  if (readCommunity_ != writeCommunity_) conf += "rocommunity " + readCommunity_ + " 127.0.0.1 -V vigil\n";
  conf += "rwcommunity " + writeCommunity_ + " 127.0.0.1 -V vigil\n";
  conf += "pass_persist .1.3.6.1 " + (dir_ / "peer.sh").string() + "\n";
  std::error_code ec;
  fs::create_directories(dir_ / "persist", ec);
  if (!WriteFile(dir_ / "peer.sh", wrapper, 0755) || !WriteFile(dir_ / "snmpd.conf", conf)) {
    error_ = "cannot write the peer's files in " + dir_.string();
    return false;
  }
  return true;
}

bool SnmpAdapterPeer::Start(uint16_t port) {
  error_.clear();
  if (dir_.empty()) {
    error_ = "no temporary folder for the peer";
    return false;
  }
  if (readCommunity_.empty() || writeCommunity_.empty() || readCommunity_.size() > 90 ||
      writeCommunity_.size() > 90 || readCommunity_.find_first_of(" \t\n#") != std::string::npos ||
      writeCommunity_.find_first_of(" \t\n#") != std::string::npos) {
    error_ = "communities must be 1..90 characters without blanks";
    return false;
  }
  const std::string snmpd = FindProgram("snmpd");
  if (snmpd.empty()) {
    error_ = "snmpd is not installed (scripts/deps installs it)";
    return false;
  }
  if (!WriteFiles()) return false;
  WriteState();
  for (int attempt = 0; attempt < (port != 0 ? 1 : 8); ++attempt) {
    port_ = port != 0 ? port : FreeUdpPort();
    if (port_ == 0) continue;
    const fs::path log = dir_ / "snmpd.log";
    std::vector<std::string> argv = {snmpd, "-f", "-A", "-Lf", log.string(), "-C", "-c",
                                     (dir_ / "snmpd.conf").string(), "-I", kSnmpModules,
                                     "udp:127.0.0.1:" + std::to_string(port_)};
    std::vector<std::string> env = {"SNMP_PERSISTENT_DIR=" + (dir_ / "persist").string(), "MIBS=", "MIBDIRS="};
    if (!daemon_.Start(argv, env, (dir_ / "snmpd.out").string())) {
      error_ = "cannot start " + snmpd;
      return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    uint8_t requestId = 1;
    bool refused = false;
    while (Clock::now() < deadline) {
      if (!daemon_.Running()) {
        std::string text = ReadWhole(log) + ReadWhole(dir_ / "snmpd.out");
        if (EndpointRefused(text)) {
          refused = true;
          break;
        }
        error_ = "snmpd ended at start: " + text;
        return false;
      }
      if (ProbeAnswers(port_, readCommunity_, requestId, 100)) {
        packetsAtStart_ = CountOccurrences(ReadWhole(log), "Connection from");
        requestsAtStart_ = static_cast<int>(Lines(ReadWhole(dir_ / "requests.log")).size());
        return true;
      }
      requestId = static_cast<uint8_t>(requestId % 120 + 1);
    }
    daemon_.Stop();
    if (!refused) {
      error_ = "snmpd did not answer within 10 s: " + ReadWhole(log) + ReadWhole(dir_ / "snmpd.out");
      return false;
    }
  }
  error_ = port != 0 ? "port " + std::to_string(port) + " is taken" : "no free UDP port for snmpd";
  return false;
}

void SnmpAdapterPeer::Stop() { daemon_.Stop(); }

bool SnmpAdapterPeer::Running() { return daemon_.Running(); }

void SnmpAdapterPeer::WriteState() {
  if (dir_.empty()) return;
  std::string json = "{";
  bool first = true;
  for (const auto& [key, value] : state_) {
    json += first ? "\n  " : ",\n  ";
    json += JsonString(key) + ": " + value;
    first = false;
  }
  json += "\n}\n";
  WriteFile(dir_ / "state.json", json);
}

void SnmpAdapterPeer::SetRaw(const std::string& key, const std::string& json) {
  state_[key] = json;
  WriteState();
}

void SnmpAdapterPeer::SetInt(const std::string& key, int64_t value) { SetRaw(key, std::to_string(value)); }

void SnmpAdapterPeer::SetText(const std::string& key, const std::string& text) { SetRaw(key, JsonString(text)); }

void SnmpAdapterPeer::SetBool(const std::string& key, bool value) { SetRaw(key, value ? "true" : "false"); }

void SnmpAdapterPeer::SetUptime(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  SetRaw("uptime", text);
}

void SnmpAdapterPeer::Remove(const std::string& key) {
  state_.erase(key);
  WriteState();
}

std::vector<SnmpSetRecord> SnmpAdapterPeer::Sets() const {
  std::vector<SnmpSetRecord> sets;
  for (const std::string& line : Lines(ReadWhole(dir_ / "sets.log"))) {
    std::vector<std::string> parts = SplitTabs(line);
    if (parts.size() != 4) continue;
    sets.push_back({parts[0], parts[1], Unescape(parts[2]), parts[3]});
  }
  return sets;
}

std::vector<SnmpRequestRecord> SnmpAdapterPeer::Requests() const {
  std::vector<SnmpRequestRecord> requests;
  std::vector<std::string> lines = Lines(ReadWhole(dir_ / "requests.log"));
  for (size_t i = static_cast<size_t>(requestsAtStart_); i < lines.size(); ++i) {
    std::vector<std::string> parts = SplitTabs(lines[i]);
    if (parts.size() == 2) requests.push_back({parts[0], parts[1]});
  }
  return requests;
}

int SnmpAdapterPeer::PacketsReceived() const {
  return CountOccurrences(ReadWhole(dir_ / "snmpd.log"), "Connection from") - packetsAtStart_;
}

std::string SnmpAdapterPeer::Log() const { return ReadWhole(dir_ / "snmpd.log") + ReadWhole(dir_ / "snmpd.out"); }

// ---- TrapReceiver -------------------------------------------------------------------------

TrapReceiver::TrapReceiver() { dir_ = MakeTempDir("vigil-snmptrapd"); }

TrapReceiver::~TrapReceiver() {
  Stop();
  RemoveTempDir(dir_);
}

std::string TrapReceiver::peerName() const { return host_ + ":" + std::to_string(port_); }

bool TrapReceiver::Start() {
  error_.clear();
  if (dir_.empty()) {
    error_ = "no temporary folder for the trap receiver";
    return false;
  }
  const std::string trapd = FindProgram("snmptrapd");
  if (trapd.empty()) {
    error_ = "snmptrapd is not installed (scripts/deps installs it)";
    return false;
  }
  // One record per trap: a TRAP line, one VAR line per variable (an empty VAR line when there
  // are none), END.
  const std::string conf =
      "disableAuthorization yes\n"
      "format1 TRAP\\t%s\\t%N\\t%w\\t%q\\t%a\\t%u\\t%T\\nVAR\\t%V\\nVAR\\t%v\\nEND\\n\n"
      "format2 NOTIFY\\t%s\\t%u\\t%T\\nVAR\\t%V\\nVAR\\t%v\\nEND\\n\n";
  std::error_code ec;
  fs::create_directories(dir_ / "persist", ec);
  if (!WriteFile(dir_ / "snmptrapd.conf", conf)) {
    error_ = "cannot write the trap receiver's configuration in " + dir_.string();
    return false;
  }
  const fs::path log = dir_ / "traps.log";
  for (int attempt = 0; attempt < 8; ++attempt) {
    port_ = FreeUdpPort();
    if (port_ == 0) continue;
    std::vector<std::string> argv = {trapd, "-f", "-A", "-Lf", log.string(), "-C", "-c",
                                     (dir_ / "snmptrapd.conf").string(), "-X", "-n", "-On",
                                     "udp:127.0.0.1:" + std::to_string(port_)};
    std::vector<std::string> env = {"SNMP_PERSISTENT_DIR=" + (dir_ / "persist").string(), "MIBS=", "MIBDIRS="};
    const int startsBefore = CountOccurrences(ReadWhole(log), "NET-SNMP version");
    if (!daemon_.Start(argv, env, (dir_ / "snmptrapd.out").string())) {
      error_ = "cannot start " + trapd;
      return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool refused = false;
    while (Clock::now() < deadline) {
      if (!daemon_.Running()) {
        std::string text = ReadWhole(log) + ReadWhole(dir_ / "snmptrapd.out");
        if (EndpointRefused(text)) {
          refused = true;
          break;
        }
        error_ = "snmptrapd ended at start: " + text;
        return false;
      }
      if (CountOccurrences(ReadWhole(log), "NET-SNMP version") > startsBefore && PortBound(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    daemon_.Stop();
    if (!refused) {
      error_ = "snmptrapd did not start within 10 s: " + ReadWhole(log) + ReadWhole(dir_ / "snmptrapd.out");
      return false;
    }
  }
  error_ = "no free UDP port for snmptrapd";
  return false;
}

void TrapReceiver::Stop() { daemon_.Stop(); }

std::vector<ReceivedTrap> TrapReceiver::Traps() const { return ParseTrapLog(ReadWhole(dir_ / "traps.log")); }

std::vector<ReceivedTrap> TrapReceiver::WaitForTraps(size_t count, int timeoutMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<ReceivedTrap> traps = Traps();
    if (traps.size() >= count || Clock::now() >= deadline) return traps;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string TrapReceiver::Log() const { return ReadWhole(dir_ / "traps.log") + ReadWhole(dir_ / "snmptrapd.out"); }

namespace {

int ToInt(std::string text) {
  while (!text.empty() && (text.front() == '.' || text.front() == ' ')) text.erase(text.begin());
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  return end == text.c_str() ? -1 : static_cast<int>(value);
}

void Trim(std::string& text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(text.begin());
}

// "OID = TYPE: value" as snmptrapd prints it with -On; the value may have continued over
// several lines.
TrapVariable ParseVariable(const std::string& raw) {
  TrapVariable var;
  size_t eq = raw.find(" = ");
  if (eq == std::string::npos) {
    var.oid = raw;
    return var;
  }
  var.oid = raw.substr(0, eq);
  std::string rest = raw.substr(eq + 3);
  if (!rest.empty() && rest.front() == '"') {
    var.type = "STRING";  // an empty string is printed without its type
  } else {
    size_t colon = rest.find(": ");
    if (colon == std::string::npos) {
      var.value = rest;
      return var;
    }
    var.type = rest.substr(0, colon);
    rest = rest.substr(colon + 2);
  }
  if (var.type == "STRING") {
    Trim(rest);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    std::string text;
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '\\' && i + 1 < rest.size() && (rest[i + 1] == '"' || rest[i + 1] == '\\')) ++i;
      text += rest[i];
    }
    var.value = text;
  } else if (var.type == "Timeticks") {
    size_t open = rest.find('('), close = rest.find(')');
    var.value = (open != std::string::npos && close != std::string::npos && close > open)
                    ? rest.substr(open + 1, close - open - 1)
                    : rest;
  } else {
    Trim(rest);
    var.value = rest;
  }
  return var;
}

}  // namespace

std::vector<ReceivedTrap> ParseTrapLog(const std::string& log) {
  std::vector<ReceivedTrap> traps;
  ReceivedTrap current;
  bool inTrap = false;
  std::vector<std::string> raws;
  for (const std::string& line : Lines(log)) {
    if (line.rfind("TRAP\t", 0) == 0 || line.rfind("NOTIFY\t", 0) == 0) {
      std::vector<std::string> f = SplitTabs(line);
      current = ReceivedTrap{};
      raws.clear();
      inTrap = true;
      if (f[0] == "TRAP" && f.size() >= 8) {
        current.version = ToInt(f[1]);
        current.enterprise = f[2];
        current.genericType = ToInt(f[3]);
        current.specificType = ToInt(f[4]);
        current.agentAddress = f[5];
        std::string community = f[6];
        for (size_t i = 7; i + 1 < f.size(); ++i) community += "\t" + f[i];
        current.community = community;
        current.timeStamp = static_cast<uint32_t>(std::strtoul(f.back().c_str(), nullptr, 10));
      } else if (f[0] == "NOTIFY" && f.size() >= 4) {
        current.version = ToInt(f[1]);
        current.community = f[2];
        current.timeStamp = static_cast<uint32_t>(std::strtoul(f.back().c_str(), nullptr, 10));
      }
    } else if (!inTrap) {
      continue;
    } else if (line == "END") {
      for (const std::string& raw : raws) {
        if (!raw.empty()) current.variables.push_back(ParseVariable(raw));
      }
      traps.push_back(current);
      inTrap = false;
    } else if (line.rfind("VAR\t", 0) == 0) {
      raws.push_back(line.substr(4));
    } else if (!raws.empty()) {
      raws.back() += "\n" + line;  // a text value that holds a line break
    }
  }
  return traps;
}

}  // namespace testing_support
