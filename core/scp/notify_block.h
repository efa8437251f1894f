// SCP block 5: the event-notification configuration. Which events and actions the agent
// supports, the configured actions (one KT_ActionEntry per event and action), and the
// recipients the actions address: two mail recipients, up to eight SNMP trap receivers and up
// to eight pager recipients. The agent's action engine reads it when an event occurs; the
// consoles' notification dialogs read and set it. The agent keeps it in "notify.dat".
//
// Branches: 1 (1 supported-event map, 2 supported-action map), 2 (the action list), 3 (mail
// recipients), 4 (trap receivers), 5 (pager recipients). Record form (big-endian; a text is
// its count byte, the characters and a zero byte, or a single zero byte for none):
//   1.1  event-map length n, n bytes: event e is bit (e-1) % 8 of byte (e-1) / 8
//   1.2  action-map length n, n bytes: actions 1..8 are bits 0..7 of byte 0; actions 9, 10
//        and 12 bits 0, 1 and 3 of byte 1; action 11 has no bit
//   2.1  action count, then per action in list order: event, action, delay (2), interval
//        (2), message text, retries, alias, option byte, remote host text
//   3.1  recipient count (0..2), then per recipient: account text, recipient name text
//   4.1  receiver count (0..8), then per receiver in list order: host name, community
//   5.1  recipient count (0..8), then per recipient: port name, baud index, parity, stop bits,
//        data bits, flow control (1 byte each), access number, name, maximum characters per
//        block, dial string, initialisation string, modem name, PIN (texts), TAP flag (1),
//        termination string, delay seconds (texts)
//
// New actions go to the front of the list, so a list written and read back comes back in
// reverse order; trap receivers read back take their slots anew from 0 in the order read.
// A decode that fails leaves the branch as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/scp/action_entry.h"
#include "core/scp/block.h"
#include "core/scp/mail_recipients.h"
#include "core/scp/network_manager_list.h"
#include "core/scp/pager_list.h"

// Which support map an operation addresses.
enum SupportMap : int {
  SUPPORT_ACTIONS = 0,
  SUPPORT_EVENTS = 1,
};

class NotifyBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 5;
  static constexpr int kMaxEvent = 37;
  static constexpr int kMaxAction = 12;

  // Error record functions and codes (class 24).
  enum : int32_t {
    FN_SUPPORTED_EVENTS = 1,
    FN_ADD_ACTION = 2,        // 1 bad event number, 2 equal entry listed, 3 a text too long
    FN_NEXT_ACTION_TEXT = 3,  // 1 end of list
    FN_CONVERT = 5,           // 1 no memory for the event map, 2 for the action map;
                              // 3 a count the bytes or the table cannot hold; 4 a bad recipient
    FN_SET_SUPPORT = 6,       // 1 n out of range, 2 b out of range, 3 no memory
    FN_CLEAR_SUPPORT = 7,     // 1 no map, 2 n beyond the map, 3 b out of range
    FN_TEST_SUPPORT = 8,      // 1 b out of range; and the action-list conversion
    FN_NEXT_ACTION = 9,       // 1 end of list
    FN_REMOVE_ACTION = 10,    // 1 bad event number
  };

  NotifyBlock();

  int GetRoute(int branch) override;
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // Deletes all actions, trap receivers and pager recipients, empties both maps, clears the
  // loaded flag.
  void Reset();

  // Support maps (which: SUPPORT_EVENTS or SUPPORT_ACTIONS; byte n 0..255, bit b 0..7).
  int SetSupportBit(int which, int n, int b);
  int ClearSupportBit(int which, int n, int b);
  // 1 set, 0 clear (or n beyond the map), -1 for a bit outside 0..7.
  int TestSupportBit(int which, int n, int b);
  int GetSupportMapSize(int which) const;
  const std::vector<uint8_t>& GetSupportMap(int which) const;
  // 1 when the action (1..12) has its bit; action 11 has none and is never supported.
  int IsActionSupported(int action) const;
  // Events 1..37 whose bit is set; bits beyond the event table are not events.
  int CountSupportedEvents() const;
  // Actions 1..12 that IsActionSupported.
  int CountSupportedActions() const;
  // The supported events 1..37 in ascending order; returns their count.
  int GetSupportedEvents(std::vector<int>& out) const;
  // Events 1..25 and 28..35, or actions 1..10.
  void SetDefaultSupport(int which);
  // Both default maps, an event-log action (8, alias 1) and an application-log action (11)
  // for every supported event, then the warnings for events 3..6.
  void SetDefaultActions();

  // Actions. AddAction: a copy goes to the front of the list: 0; -1 for an event number
  // outside 1..37, an equal entry already listed, or a text over 254 characters.
  int AddAction(const KT_ActionEntry& entry);
  // 1 when the first equal entry was removed, 0 when none, -1 for a bad event number.
  int RemoveAction(const KT_ActionEntry& entry);
  bool FindAction(int event, int action, KT_ActionEntry& out) const;
  // Replaces the recipient mask of the listed (event, action) record in place, keeping its
  // place in the list: true, or false when there is none.
  bool SetActionAlias(int event, int action, uint8_t alias);
  void ResetActionCursor() { action_cursor_ = 0; }
  // The entry at the cursor, and the cursor moves on: 1; at the end the cursor goes back to
  // the start and the result is -1.
  int GetNextAction(KT_ActionEntry& out);
  // The same with the entry's description.
  int GetNextActionText(std::string& text);
  // The description of an action for the consoles' lists.
  void GetActionText(const KT_ActionEntry& entry, std::string& text) const;
  int GetActionCount() const { return static_cast<int>(actions_.size()); }
  const std::vector<KT_ActionEntry>& Actions() const { return actions_; }
  // Events that end a condition.
  static bool IsClearingEvent(int event);

  // Loaded flag: set when the block was read from notify.dat.
  void SetLoaded() { loaded_ = 1; }
  void ClearLoaded() { loaded_ = 0; }
  bool IsLoaded() const { return loaded_ != 0; }

  // Local mode: a console serves the block from an agent in its own process instead of over
  // the network. Read by the dialogs; set only by a program that runs an agent in-process.
  int GetLocalMode() const { return local_mode_; }
  void SetLocalMode(int on) { local_mode_ = on; }

  // Copies the mail recipients, the pager recipients and the actions of another block; both
  // maps become the defaults; the trap receivers are left empty.
  void Assign(const NotifyBlock& other);

  KT_MailRecipients& MailRecipients() { return mail_; }
  const KT_MailRecipients& MailRecipients() const { return mail_; }
  KT_NetworkManagerList& TrapReceivers() { return traps_; }
  const KT_NetworkManagerList& TrapReceivers() const { return traps_; }
  KT_PagerList& PagerRecipients() { return pagers_; }
  const KT_PagerList& PagerRecipients() const { return pagers_; }

 private:
  std::vector<uint8_t>& Map(int which) { return which == SUPPORT_EVENTS ? event_map_ : action_map_; }
  int MapField(int which) const { return which == SUPPORT_EVENTS ? 1 : 2; }
  void AddDefault(uint8_t event, uint8_t action, uint16_t delay, uint16_t interval, uint8_t alias,
                  const char* message);
  // Fills the record without appending to error.dat (a normal end of a walk, or bad input).
  int Note(int32_t fn, int32_t failure, int32_t value);

  int ConvertMap(int which, int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertActions(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertMail(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertTraps(int direction, KT_RecordWriter* out, KT_RecordReader* in);
  int ConvertPagers(int direction, KT_RecordWriter* out, KT_RecordReader* in);

  std::vector<KT_ActionEntry> actions_;
  KT_MailRecipients mail_;
  KT_NetworkManagerList traps_;
  KT_PagerList pagers_;
  std::vector<uint8_t> event_map_;
  std::vector<uint8_t> action_map_;
  size_t action_cursor_ = 0;
  uint8_t loaded_ = 0;
  int local_mode_ = 0;
};
