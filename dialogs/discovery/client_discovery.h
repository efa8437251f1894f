// gClientDiscovery: the discovery object of the shutdown parameters' network-clients page,
// whose subnets "cfsubnet.dat" holds; CHostSelect searches with it too.
#pragma once

#include "core/discovery/discover.h"

extern KT_Discover gClientDiscovery;
