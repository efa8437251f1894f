// The functions, events and actions that every UPS reached through a network adapter offers,
// whatever its model (the adapter drivers add the model's own on top). The caller holds the
// SCP object's lock.
#pragma once

#include "core/scp/notify_block.h"
#include "core/scp/ups_info_block.h"

void SetAdapterUpsCapabilities(UpsInfoBlock& info, NotifyBlock& notify);
