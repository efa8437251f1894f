#include "tests/agent/servers/e2e/agent_network.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <chrono>

#include "core/scp/scp_frame.h"
#include "tests/support/private_network.h"

std::vector<std::string> AgentSettings(const std::string& ip) { return {"bind_address = " + ip}; }

KT_Address IpAddressOf(const std::string& dotted) {
  KT_Address a(ADDRESS_IP);
  in_addr in{};
  inet_pton(AF_INET, dotted.c_str(), &in);
  a.SetIpAddress(in.s_addr);
  return a;
}

void UseCountingShutdown(AgentProcess& agent, const std::string& ip) {
  const std::string script = agent.File("shutdown.sh");
  testing_support::WriteFileText(script, "#!/bin/sh\necho shutdown >>\"" + agent.File("shutdowns.txt") + "\"\n");
  ::chmod(script.c_str(), 0755);
  std::string settings = "snmp_service =\nuser_terminals = no\nreboot_command = /bin/true\nsaver_command = /bin/true\n";
  settings += "shutdown_command = " + script + "\n";
  for (const auto& line : AgentSettings(ip)) settings += line + "\n";
  testing_support::WriteFileText(agent.File("VigilNT.conf"), settings);
}

size_t ShutdownsOf(const AgentProcess& agent) {
  return Count(testing_support::ReadFileText(agent.File("shutdowns.txt")), "shutdown\n");
}

bool WaitUntilServing(AgentProcess& agent) {
  return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000);
}

std::optional<KT_ScpMessage> Ask(testing_support::ScpConsole& console, const std::string& ip,
                                 const std::vector<uint8_t>& request, int timeoutMs) {
  KT_ScpMessage sent;
  DecodeScpFrame(request.data(), request.size(), sent);
  if (!console.Send(ip, 7010, request)) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto bytes = console.Receive(200);
    if (!bytes) continue;
    const auto m = testing_support::Decode(*bytes);
    if (!m) continue;
    // A push of the status block looks like the answer to a GET [1]; anything else with the
    // request's key is the answer.
    if (m->key == sent.key) return m;
  }
  return std::nullopt;
}

std::vector<std::optional<KT_ScpMessage>> AskAll(testing_support::ScpConsole& console, const std::string& ip,
                                                 const std::vector<std::vector<uint8_t>>& requests,
                                                 int timeoutMs) {
  std::vector<std::optional<KT_ScpMessage>> answers(requests.size());
  std::vector<std::vector<uint8_t>> keys(requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    KT_ScpMessage sent;
    DecodeScpFrame(requests[i].data(), requests[i].size(), sent);
    keys[i] = sent.key;
    if (!console.Send(ip, 7010, requests[i])) return answers;
  }
  size_t missing = requests.size();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (missing > 0 && std::chrono::steady_clock::now() < deadline) {
    const auto bytes = console.Receive(200);
    if (!bytes) continue;
    const auto m = testing_support::Decode(*bytes);
    if (!m) continue;
    for (size_t i = 0; i < requests.size(); ++i) {
      if (!answers[i] && keys[i] == m->key) {
        answers[i] = m;
        --missing;
        break;
      }
    }
  }
  return answers;
}

std::vector<uint8_t> SetFrameOf(KT_SCP& image, std::vector<uint8_t> key) {
  std::vector<uint8_t> frame;
  auto lock = image.Lock();
  KT_Block* block = image.GetBlock(key[0]);
  if (block == nullptr || block->ConvertMessage(frame, KT_ScpMessage(SCP_GET, key)) < 0 || frame.size() < 4) {
    return {};
  }
  frame[3] = SCP_SET;
  return frame;
}

size_t EventsOf(testing_support::ScpConsole& console, const std::string& ip, int event) {
  std::optional<KT_ScpMessage> log;
  for (int attempt = 0; attempt < 20 && !(log && log->type == SCP_DATA); ++attempt) {
    log = Ask(console, ip, testing_support::GetFrame({BLOCK_EVENT_LOG, 1}));
  }
  EventLogBlock events;
  std::vector<uint8_t> none;
  if (!log || log->type != SCP_DATA || events.ConvertMessage(none, *log) < 0) return 0;
  size_t n = 0;
  for (const LogRecord& r : events.Records()) n += r.data == std::vector<uint8_t>{static_cast<uint8_t>(event)};
  return n;
}

bool WaitForAlarm(testing_support::ScpConsole& console, const std::string& ip, int alarm, bool active,
                  int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto m = Ask(console, ip, testing_support::GetFrame({1}, 0));
    if (!m || m->type != SCP_DATA) continue;  // "Get Resend": ask again
    StatusBlock status;
    std::vector<uint8_t> none;
    if (status.ConvertMessage(none, *m) >= 0 && (status.IsAlarmSet(alarm) == 1) == active) return true;
  }
  return false;
}

void ConsoleNetworkTest::SetUp() {
  std::string error;
  ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
  console_ = std::make_unique<testing_support::ScpConsole>("127.0.0.9");
  ASSERT_TRUE(console_->ok());
}
