// Assembles the agent's worker threads and drivers: installs every thread procedure in the
// OS-services object and the driver factories in the agent. The one place that names the
// threads and drivers of this build: a new thread or driver is added here.
#pragma once

class KT_Agent;
class KT_OSServices;

void InstallAgentThreads(KT_Agent& agent, KT_OSServices& services);
