#include "agent/servers/command_server.h"

#include "agent/servers/client_list.h"
#include "agent/engine/trace_dumps.h"
#include "core/network/comm_base.h"
#include "core/scp/command_block.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"

int ServeScpBlock(KT_SCP& scp, KT_ClientList& clients, KT_CommBase& channel, KT_Address& sender,
                  const uint8_t* data, size_t length, std::vector<uint8_t>& answer) {
  answer.clear();
  PrintDataRead(data, length);
  KT_ScpMessage message;
  if (DecodeScpFrame(data, length, message) < 0) {
    Diag() << "Invalid SCP frame received\n";
    PrintErrorStatus(message);
    if (message.KeyLength() > 0) BuildStatusReplyFrame(message, answer, SCP_INVALID_PACKET);
  } else if (message.type == SCP_DATA || message.type == SCP_STATUS) {
    // What the agent holds of its UPS comes from the UPS alone: data and status frames are
    // what the agent sends, never what it takes from a console or a peer (the client agents'
    // answers to a master's commands arrive here too, and are let go). They change nothing
    // and are not answered (an answer to a forged sender could start two agents answering
    // each other).
    Diag() << (message.type == SCP_DATA ? "DATA" : "STATUS")
           << " frame ignored: the servers take GET and SET frames only\n";
  } else {
    if (message.type == SCP_SET && message.KeyLength() > 1 && message.KeyByte(kScpKeyBlock) == BLOCK_COMMAND &&
        message.KeyByte(kScpKeyBranch) == COMMAND_UNREGISTER) {
      if (clients.Remove(sender)) Diag() << "Console unregistered\n";
    } else if (message.type == SCP_GET && message.KeyLength() > 0 && message.KeyByte(kScpKeyBlock) == BLOCK_STATUS &&
               message.extraCode != 0) {
      if (clients.Add(sender)) Diag() << "Console registered\n";
    }
    if (scp.ExecuteCommand(message, answer) < 0) {
      answer.clear();
      BuildStatusReplyFrame(message, answer, SCP_EXECUTE_FAILED);
    }
  }
  if (answer.empty()) return SERVE_NO_ANSWER;
  int outcome = SERVE_ANSWERED;
  if (channel.Send(&sender, answer) < 0) {
    Diag() << "Reply failed.\n";
    PrintErrorStatus(channel);
    outcome = SERVE_SEND_FAILED;
  }
  Diag() << "After send\n";
  return outcome;
}
