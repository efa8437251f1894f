#include "agent/protocols/protocol_factory.h"

#include "agent/protocols/apc.h"
#include "agent/protocols/contact_closure.h"
#include "core/scp/ups_info_block.h"

std::unique_ptr<KT_UpsProtocol> CreateUpsProtocol(int protocol, KT_SCP& scp) {
  switch (protocol) {
    case PROTOCOL_BCM: return MakeBcmProtocol(scp);
    case PROTOCOL_VARNIS: return MakeHarvanProtocol(scp);
    case PROTOCOL_CONTACT_CLOSURE: return std::make_unique<KT_ContactClosure>(scp);
    case PROTOCOL_APC: return std::make_unique<KT_APC>(scp);
    default: return nullptr;
  }
}
