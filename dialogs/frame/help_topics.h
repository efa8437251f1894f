// The topic of a UPS state or an event in "alarm.hlp". Each alarm event opens the topic of
// the UPS state that raises it; its clearing event opens a topic of its own. Anything outside
// the tables opens the general topic 40.
#pragma once

// UPS state codes of the status block (0 "Bad Battery Detected." .. 24).
unsigned GetStateHelpContext(unsigned stateCode);
// Event numbers 1..36.
unsigned GetAlarmHelpContext(unsigned eventNumber);
