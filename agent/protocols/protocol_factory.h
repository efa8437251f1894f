// The protocol objects of the serial UPS protocols, by the protocol byte of the UPS
// information block (UpsProtocolKind: 0 BCM, 1 Varnis II, 2 contact closure, 3 APC).
//
// The BCM and Varnis II protocols live in their own units, which define MakeBcmProtocol and
// MakeHarvanProtocol. Detection (agent/protocols/link_setup.h) runs its BCM steps (the line probe and
// the baud scan) on the object MakeBcmProtocol builds and its Varnis II probe on the one of
// MakeHarvanProtocol; while either returns null, only that protocol's probes are left out.
#pragma once

#include <memory>

#include "agent/protocols/ups_protocol.h"

class KT_SCP;

// A new protocol object of the kind, working on the SCP object; null for an unknown kind or a
// protocol that is not built in.
std::unique_ptr<KT_UpsProtocol> CreateUpsProtocol(int protocol, KT_SCP& scp);

// Defined by the BCM unit (KT_BCM) and the Varnis II unit (KT_Harvan).
std::unique_ptr<KT_UpsProtocol> MakeBcmProtocol(KT_SCP& scp);
std::unique_ptr<KT_UpsProtocol> MakeHarvanProtocol(KT_SCP& scp);
