// The UPS-side worker threads of the agent (one runs at a time, by communication mode):
//
//   SerialThread   a UPS on a serial port: runs the detected protocol, and on a communication
//                  loss (more than 4 failures without a success) detects the UPS again
//   SNMPThread     a UPS behind an SNMP network adapter (mode 8)
//   NetBCMThread   a UPS behind a network BCM adapter (mode 9)
//
// Each drains serial_queue through KT_UpsWorker about once a second, runs while its state word
// is 1 and writes 255 into it as its last action. Every wait goes through the services' Pause.
//
// An adapter thread that cannot go on (its adapter does not answer, or a setting it needs is
// missing) turns the agent idle and says why in a message box before it ends, so that an
// agent whose thread has ended never reports a UPS nobody watches as normal.
#pragma once

class KT_Agent;

// The message boxes of an adapter thread that ends for want of a setting. The network BCM
// adapter needs no write community: without one it gets the factory access code.
inline constexpr const char* kAdapterNameMissingText =
    "Adapter name must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
inline constexpr const char* kReadCommunityMissingText =
    "SNMP read community (Get Community Name) must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
inline constexpr const char* kWriteCommunityMissingText =
    "SNMP write community (Set Community Name) must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
class SerialUpsProtocol;

// An adapter thread has heard from its adapter now (KT_Agent::adapterHeard).
void AdapterAnswered(KT_Agent& agent);
// What a served request of an adapter thread tells: a good status read is an answer of the
// adapter (other reads may succeed in part without one).
void AdapterServed(KT_Agent& agent, int type, int outcome);

// The end of an adapter thread that cannot go on: traces why under the thread's name, turns the
// agent idle and shows `why` in a message box. Always false, the result of the failed connect.
bool AdapterThreadGiveUp(KT_Agent& agent, const char* thread, const char* why);

int SerialThread(KT_Agent& agent);
int SNMPThread(KT_Agent& agent);
int NetBCMThread(KT_Agent& agent);

// One protocol run of the serial thread on an opened protocol object: 0 when stopped, -1 on a
// communication loss or when the port cannot be opened.
int RunSerialProtocol(KT_Agent& agent, SerialUpsProtocol& protocol);
