// Helpers of the end-to-end tests of the agent's command servers: agents bound to their own
// loopback address, and a console that talks to them over UDP.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/scp/scp.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/scp_console.h"

// Settings of an agent bound to `ip` (AgentProcess gives every agent harmless stand-ins for
// its effects on the machine).
std::vector<std::string> AgentSettings(const std::string& ip);

// The IP address of a dotted text, as a client list holds it.
KT_Address IpAddressOf(const std::string& dotted);

// Gives the agent the settings of AgentSettings(ip), with a shutdown stand-in that only counts
// its runs (ShutdownsOf).
void UseCountingShutdown(AgentProcess& agent, const std::string& ip);
// How often the agent's counting shutdown stand-in ran.
size_t ShutdownsOf(const AgentProcess& agent);

// Waits (bounded) until the agent's network server is up.
bool WaitUntilServing(AgentProcess& agent);

// Sends the request to the agent at ip:7010 and waits for an answer with the request's key
// (the agent serves one datagram a turn; status pushes in between are skipped). Bounded.
std::optional<KT_ScpMessage> Ask(testing_support::ScpConsole& console, const std::string& ip,
                                 const std::vector<uint8_t>& request, int timeoutMs = 15000);

// Sends every request at once and waits (bounded) for an answer to each: the agent serves the
// datagrams of a turn in order, so answers with one key are taken in the order their requests
// went out. The answers in request order; nullopt where none came.
std::vector<std::optional<KT_ScpMessage>> AskAll(testing_support::ScpConsole& console, const std::string& ip,
                                                 const std::vector<std::vector<uint8_t>>& requests,
                                                 int timeoutMs = 15000);

// The SET frame of a part of a local SCP image (its encoded fields), as a console sends it.
std::vector<uint8_t> SetFrameOf(KT_SCP& image, std::vector<uint8_t> key);

// The records of an event in the agent's event log, as a console reads it over UDP.
size_t EventsOf(testing_support::ScpConsole& console, const std::string& ip, int event);

// Asks the agent's status block over UDP until the alarm is in the wanted state (bounded);
// true when it was.
bool WaitForAlarm(testing_support::ScpConsole& console, const std::string& ip, int alarm, bool active = true,
                  int timeoutMs = 20000);

// A test in a network of its own (testing_support::EnterPrivateNetwork) with a console bound
// to 127.0.0.9 there, made in SetUp.
class ConsoleNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override;

  std::unique_ptr<testing_support::ScpConsole> console_;
};
