// Dumps of the agent's state and of what its threads receive, to the trace console. The
// callers hold the SCP object's lock while a dump reads a block of it.
#pragma once

#include <cstddef>
#include <cstdint>

class StatusBlock;
class UpsInfoBlock;
class MeterBlock;
class KT_Block;
class KT_Address;
struct KT_ErrorStatus;
class KT_ActionEntry;

// "System Normal" when no alarm is set, else each set alarm's text with " set at " and the
// time of its last change; an unknown code prints "Unknown Error".
void PrintStatus(StatusBlock& status);
// The UPS's identification, nominal values and supported functions. "Tremona Tandle" names a
// UPS of the maker's own (manufacturer code 0), "Tremona Mosk" any other.
void PrintUpsInfo(UpsInfoBlock& info);
// The meters; a value the UPS did not report prints "UNKNOWN Value".
void PrintMeters(MeterBlock& meters);
// The four fields of an error record.
void PrintErrorStatus(const KT_ErrorStatus& record);
// The received bytes as "n) 0x.., " with their characters (a dot for one that cannot be
// shown); a long block shows its first kMaxDumpedBytes and the count of the rest.
inline constexpr size_t kMaxDumpedBytes = 64;
void PrintDataRead(const uint8_t* data, size_t length);
// The dotted address and the port (host byte order) of a datagram's sender.
void PrintAddress(KT_Address& address);
// For each branch of a block: the value and time of the last status answer received for it.
void PrintBranchAck(const KT_Block& block, const char* serialDeviceName);
// One configured action.
void PrintAction(const KT_ActionEntry& action);
