// Keeps the actions that address recipients by bit (trap receivers, mail recipients, pager
// recipients) pointing at the same recipients after their list was rebuilt. The dialogs that
// edit such a list rebuild it from their rows, so the recipients after a removed one move
// down a slot; an action's bit i names slot i, and left alone it would reach a neighbour or
// nobody.
#pragma once

#include <vector>

#include "core/scp/notify_block.h"

// newSlot[i]: the slot the recipient of old slot i holds now, -1 when it was removed. Every
// record of `action` gets its bits moved along (a removed recipient's bit is cleared). True
// when a record changed; the caller then sends the whole block, since the action list
// changed with the recipients. Call it under gScp's lock.
bool MoveRecipientBits(NotifyBlock& block, int action, const std::vector<int>& newSlot);

// The slot map of a rebuilt trap receiver list: each receiver of `before` found (same host
// and community) in `after` maps to its slot there; a slot `before` left free maps to itself.
std::vector<int> TrapSlotMap(const KT_NetworkManagerList& before, const KT_NetworkManagerList& after);
