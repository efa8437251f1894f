#include "dialogs/discovery/client_discovery.h"

KT_Discover gClientDiscovery;
