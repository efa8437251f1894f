// Placeholders for the BCM and Varnis II protocol objects until their units are built: detection
// then leaves their probes out. The unit that defines MakeBcmProtocol and MakeHarvanProtocol
// removes this file.
#include "agent/protocol_factory.h"

std::unique_ptr<KT_UpsProtocol> MakeBcmProtocol(KT_SCP&) { return nullptr; }
std::unique_ptr<KT_UpsProtocol> MakeHarvanProtocol(KT_SCP&) { return nullptr; }
