// How a console takes in one answer of an agent: applied to gScp, its request taken off the
// queue, then acted on by the reply's own status:
//
//   1 Get Resend       asks the answering host again for the same data (key length 1: the
//                      whole block, 2: the branch, 3: the item; other lengths: nothing)
//   0 Set OK, 4 Get OK forwards the result to every open dialog of the block
//                      (RouteScpReply), then sets the block's status to 255
//   2, 3, 5            "SCP Status: FieldAddress=b,r,i - Set Failed" / "Get Failed" /
//                      "Invalid packet" in a box owned by the box owner
//   6 Not Available    (4, 11) and (4, 13) to the serial device dialog, (4, 12) to the network
//                      adapter dialog when open; otherwise the box "... - Not Available"
//   anything else      "... - Bad SCP Status = n", not shown
//
// Runs on the user-interface thread.
#pragma once

#include <QString>
#include <cstdint>

class KT_Block;
class KT_ScpMessage;
class QWidget;

struct ReplyStatusOutcome {
  int routed = 0;      // dialogs the result was forwarded to
  QString text;        // "SCP Status: FieldAddress=4,8,1 - Get OK"
  bool shown = false;  // the text went out in a message box
};

// The packed key of a decoded message: its key length and first three key bytes (0 where the
// key is shorter). The bytes after the type byte of the frame are not used: for a short key
// they hold the data length.
uint32_t PackedKeyOf(const KT_ScpMessage& message);

// Applies an answer to gScp (under its lock): true with the reply's own status when applied.
bool ApplyReplyToScp(const KT_ScpMessage& message, int& status);

// Takes the request the answer settles off gScp's queue (nothing when the queue mutex is
// missing).
void RemoveAnsweredRequest(const KT_ScpMessage& message, int hostIndex);

// gScp's block of a reply that carries a status byte (blocks 1 to 9 and 24 to 28); null for
// any other block.
KT_Block* ReplyStatusBlock(unsigned block);

// Acts on one reply: its packed key, its own status and the host that answered.
ReplyStatusOutcome ActOnReplyStatus(uint32_t packedKey, int status, int hostIndex, QWidget* boxOwner);
