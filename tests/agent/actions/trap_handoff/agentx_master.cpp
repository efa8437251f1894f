#include "tests/agent/actions/trap_handoff/agentx_master.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

AgentxMaster::AgentxMaster() { socket_ = dir_.File("agentx"); }

bool AgentxMaster::Start(const std::string& trapHost, uint16_t trapPort) {
  error_.clear();
  const std::string snmpd = testing_support::FindProgram("snmpd");
  if (snmpd.empty()) {
    error_ = "snmpd is not installed (scripts/deps installs it)";
    return false;
  }
  const std::string conf = "master agentx\nagentXSocket unix:" + socket_ + "\nagentXPerms 0600 0700\n" +
                           "trapsink " + trapHost + ":" + std::to_string(trapPort) + " public\n";
  testing_support::WriteFileText(dir_.File("snmpd.conf"), conf);
  ::unlink(socket_.c_str());
  for (int attempt = 0; attempt < 8; ++attempt) {
    const uint16_t port = testing_support::FreeUdpPort();
    if (port == 0) continue;
    std::vector<std::string> argv = {snmpd, "-f", "-Lf", dir_.File("snmpd.log"), "-C", "-c", dir_.File("snmpd.conf"),
                                     "-I", "agentx", "udp:127.0.0.1:" + std::to_string(port)};
    std::vector<std::string> env = {"SNMP_PERSISTENT_DIR=" + dir_.File("persist"), "MIBS=", "MIBDIRS="};
    if (!daemon_.Start(argv, env, dir_.File("snmpd.out"))) {
      error_ = "cannot start " + snmpd;
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && daemon_.Running()) {
      struct stat st {};
      if (::stat(socket_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    daemon_.Stop();
  }
  error_ = "snmpd did not open its AgentX socket: " + Log();
  return false;
}

void AgentxMaster::Stop() {
  daemon_.Stop();
  ::unlink(socket_.c_str());
}

std::string AgentxMaster::Log() const {
  return testing_support::ReadFileText(dir_.File("snmpd.log")) + testing_support::ReadFileText(dir_.File("snmpd.out"));
}
