// The process-wide table of alarm ids that the UPS MIB traps report (upsAlarmId of
// upsTrapAlarmEntryAdded / upsTrapAlarmEntryRemoved), shared by every adapter client of the
// process and safe to use from any thread.
//
// One entry per status alarm code 0..24: the id under which the code was last reported as added,
// -1 for none. Ids come from one counter that starts at 1; an id is never reused for a new
// addition.
//
// The action engine sends one trap per configured network manager, one call after the other
// for the same change of an alarm. So that every manager hears of an alarm under one id, and
// every manager hears of its removal:
//   - an addition while the code already holds an id reports that id again;
//   - a removal takes the code's id and frees the entry, and a further removal of the same
//     code before its next addition reports that id again.
// A removal of a code that was never added finds no id (-1): nothing is sent.
#pragma once

// The RFC 1628 well-known alarm number (upsWellKnownAlarms.N) for a status alarm code, or -1
// when the code has none.
int WellKnownAlarmForScpAlarm(int scpAlarm);

// The id to report for the addition of an alarm (see above); -1 for a code outside 0..24.
int TakeAddedAlarmId(int scpAlarm);
// The id of an on-battery trap for code 1: as an addition.
inline int TakeOnBatteryAlarmId() { return TakeAddedAlarmId(1); }
// The id to report for the removal of an alarm; -1 when the code was never added.
int TakeRemovedAlarmId(int scpAlarm);
// The id the code holds now (-1 for none or a code outside 0..24); changes nothing.
int PeekAlarmId(int scpAlarm);
