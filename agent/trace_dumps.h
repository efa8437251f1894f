// Dumps of the agent's state to the trace console. The caller holds the SCP object's lock.
#pragma once

class StatusBlock;
class UpsInfoBlock;
class MeterBlock;

// "System Normal" when no alarm is set, else each set alarm's text with " set at " and the
// time of its last change; an unknown code prints "Unknown Error".
void PrintStatus(StatusBlock& status);
// The UPS's identification, nominal values and supported functions. "Tremona Tandle" names a
// UPS of the maker's own (manufacturer code 0), "Tremona Mosk" any other.
void PrintUpsInfo(UpsInfoBlock& info);
// The meters; a value the UPS did not report prints "UNKNOWN Value".
void PrintMeters(MeterBlock& meters);
