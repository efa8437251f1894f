// What the agent's network and local command servers do with one received block: decode the
// SCP frame, register or unregister the sender for status pushes, let the agent's SCP object
// execute the message and send the answer back on the channel it came from.
//
//   frame does not decode       status 5 ("Invalid packet") for the key decoded so far; no
//                               answer when not even a key was decoded
//   DATA or STATUS              refused: not executed, not answered, nothing changes (the
//                               agent's image of its UPS comes from the UPS alone)
//   GET [1] with extra code     the sender is registered (once per address)
//   SET [27, 6, ...]            the sender is unregistered
//   ExecuteCommand fails        status 9
//
// A received block is only ever decoded and executed: nothing in it is run or opened here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class KT_SCP;
class KT_CommBase;
class KT_Address;
class KT_ClientList;

// What happened to one received block.
enum ServeOutcome : int {
  SERVE_ANSWERED = 1,      // an answer was sent
  SERVE_NO_ANSWER = 0,     // nothing to answer (a refused DATA or STATUS message, or no key)
  SERVE_SEND_FAILED = -1,  // an answer was built but could not be sent
};

// Serves one received block from `sender` on `channel` (the answer goes back to the sender).
// `answer` receives the answer's bytes (empty when there is none).
int ServeScpBlock(KT_SCP& scp, KT_ClientList& clients, KT_CommBase& channel, KT_Address& sender,
                  const uint8_t* data, size_t length, std::vector<uint8_t>& answer);
