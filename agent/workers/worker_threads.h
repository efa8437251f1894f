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
// An adapter thread whose adapter does not answer (it may boot later than this computer
// after a power cut) keeps the configured mode: it raises the lost communication with the
// UPS (alarm 7, with its event) and asks the adapter again at the polling interval, and
// watches the UPS as soon as it answers. Only a thread that cannot go on at all (a setting it
// needs is missing, the adapter's name can never name a host, no TCP/IP) turns the agent idle
// and says why in a message box before it ends, so that an agent whose thread has ended never
// reports a UPS nobody watches as normal.
#pragma once

#include <cstdint>
#include <string>

class KT_Agent;

// The message boxes of an adapter thread that ends for want of a setting. The network BCM
// adapter needs no write community: without one it gets the factory access code.
inline constexpr const char* kAdapterNameMissingText =
    "Adapter name must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
inline constexpr const char* kReadCommunityMissingText =
    "SNMP read community (Get Community Name) must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
inline constexpr const char* kWriteCommunityMissingText =
    "SNMP write community (Set Community Name) must be specified.\nUse Tavona/Fenn/Kessa to reconfigure.";
// The message boxes of an adapter thread whose adapter name names no host.
inline constexpr const char* kSnmpAdapterIncorrectText = "Adapter name/IP Address is incorrect.";
inline constexpr const char* kNetBcmAdapterIncorrectText =
    "NetBCM Thread message:\n Unable to communicate with Network Adapter.\n Check the network connection and "
    "verify that\n the Adapter name/IP Address is correct.\n";
class SerialUpsProtocol;

// An adapter thread has heard from its adapter now (KT_Agent::adapterHeard).
void AdapterAnswered(KT_Agent& agent);
// What a served request of an adapter thread tells: a good status read is an answer of the
// adapter (other reads may succeed in part without one).
void AdapterServed(KT_Agent& agent, int type, int outcome);

// Where an adapter thread's connection stands.
enum AdapterLink : int {
  ADAPTER_LINK_ENDED = 0,   // the thread cannot go on (the agent is idle)
  ADAPTER_LINK_UP = 1,      // the adapter answered: the thread serves serial_queue
  ADAPTER_LINK_SILENT = 2,  // no answer yet: asked again when AdapterRetryDue says so
};

// The end of an adapter thread that cannot go on: traces why under the thread's name, turns the
// agent idle and shows `why` in a message box. Always ADAPTER_LINK_ENDED.
AdapterLink AdapterThreadGiveUp(KT_Agent& agent, const char* thread, const char* why);
// The adapter did not answer: the lost communication with the UPS is raised (once; the mode
// stays), traced under the thread's name with the adapter. Always ADAPTER_LINK_SILENT.
AdapterLink AdapterSilent(KT_Agent& agent, const char* thread, const std::string& adapter);
// A silent adapter is asked again once the polling interval (at least a second) has passed
// since the last try.
bool AdapterRetryDue(KT_Agent& agent, int64_t lastTry);
// The adapter's host checked before a connection: ADAPTER_LINK_UP when it may be asked, else
// the end of the thread (a name that can never name a host: `incorrect` in the message box)
// or a silent adapter (the name service does not answer now).
AdapterLink CheckAdapterHostFor(KT_Agent& agent, const char* thread, const std::string& adapter,
                                const char* incorrect);

int SerialThread(KT_Agent& agent);
int SNMPThread(KT_Agent& agent);
int NetBCMThread(KT_Agent& agent);

// One protocol run of the serial thread on an opened protocol object: 0 when stopped, -1 on a
// communication loss or when the port cannot be opened.
int RunSerialProtocol(KT_Agent& agent, SerialUpsProtocol& protocol);
