#include "agent/agent_threads.h"

#include "agent/agent.h"
#include "agent/local_server.h"
#include "agent/netbcm_adapter_driver.h"
#include "agent/network_server.h"
#include "agent/os_services.h"
#include "agent/serial_link_driver.h"
#include "agent/snmp_adapter_driver.h"
#include "agent/worker_threads.h"
#include "core/scp.h"

void InstallAgentThreads(KT_Agent& agent, KT_OSServices& services) {
  services.SetThreadProcedure(THREAD_SERIAL, [&agent] { return SerialThread(agent); });
  services.SetThreadProcedure(THREAD_SNMP, [&agent] { return SNMPThread(agent); });
  services.SetThreadProcedure(THREAD_NETBCM, [&agent] { return NetBCMThread(agent); });
  services.SetThreadProcedure(THREAD_NETWORK, [&agent] { return NetworkThread(agent); });
  services.SetThreadProcedure(THREAD_LOCAL, [&agent] { return LocalThread(agent); });
  // The serial protocols write the battery files themselves when a test has finished.
  auto writer = [&services](int block) {
    if (block == BLOCK_BATTERY_TEST) services.WriteAgentFile(FILE_BATTERY_TEST);
    if (block == BLOCK_BATTERY_LOG) services.WriteAgentFile(FILE_BATTERY_LOG);
  };
  agent.SetSerialLinkFactory([writer](KT_SCP& scp) { return std::make_unique<KT_SerialLinkDriver>(scp, writer); });
  agent.SetSnmpClientFactory([](KT_SCP& scp) { return std::make_unique<KT_SnmpAdapterDriver>(scp); });
  agent.SetNetBcmClientFactory([](KT_SCP& scp) { return std::make_unique<KT_NetBcmAdapterDriver>(scp); });
}
