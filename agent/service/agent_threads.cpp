#include "agent/service/agent_threads.h"

#include "agent/engine/agent.h"
#include "agent/servers/local_server.h"
#include "agent/workers/netbcm_adapter_driver.h"
#include "agent/servers/network_server.h"
#include "agent/engine/os_services.h"
#include "agent/workers/serial_link_driver.h"
#include "agent/workers/snmp_adapter_driver.h"
#include "agent/workers/worker_threads.h"
#include "core/scp/scp.h"

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
