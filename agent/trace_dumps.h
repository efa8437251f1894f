// Dumps of the agent's state to the trace console.
#pragma once

class StatusBlock;

// "System Normal" when no alarm is set, else each set alarm's text with " set at " and the
// time of its last change; an unknown code prints "Unknown Error". The caller holds the SCP
// object's lock.
void PrintStatus(StatusBlock& status);
