// Base of every SCP block: the table of its branches, a refresh period, a status byte, and the
// generic conversion of any addressed part of the block (whole block, one branch, one field)
// to and from the record encoding, which is both the data of SCP frames and the layout of the
// agent's record files.
//
// A concrete block registers its branches in its constructor (branch 0 with no fields for the
// whole block, then each branch with its field count), sets its refresh period, and overrides
// the two operations below: the route of a branch and the conversion of one field.
//
// A block takes no lock of its own: its owner (the SCP object) serialises access to it.
#pragma once

#include <cstdint>
#include <vector>

#include "core/scp/branch_table.h"
#include "core/base/error_status.h"
#include "core/scp/field_io.h"
#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp_message.h"

// Routes of a branch: which worker acts on a read or a change of it.
enum BlockRoute : int {
  ROUTE_REFUSED = -1,  // branch unknown to the block
  ROUTE_UPS = 0,       // serial_queue (the UPS-side worker)
  ROUTE_AGENT = 1,     // system_queue (the agent's system-request handler)
  ROUTE_BOTH = 2,
};

// A refresh period at or above this value means: once filled, never stale.
inline constexpr int kRefreshNever = 65535;

class KT_Block : public KT_ErrorStatus {
 public:
  KT_Block() = default;
  virtual ~KT_Block() = default;

  // Route of a branch (see BlockRoute); -1 for a branch the block does not know, after an
  // error record of the block's own class.
  virtual int GetRoute(int branch) = 0;
  // Encodes one field into `writer` (direction CONVERT_ENCODE) or decodes it from `reader`
  // (CONVERT_DECODE); the other pointer is null. Fields count from 1. Any result >= 0 is
  // success, a negative one failure.
  virtual int ConvertField(int branch, int field, int direction, KT_RecordWriter* writer, KT_RecordReader* reader) = 0;
  // What the block's record file keeps after the block's data, which the wire form has no room
  // for: written after ConvertBlock, read from the bytes that follow it. Readers of an older
  // file find nothing there and older readers stop before it, so a block gives nothing unless
  // it must. A read takes only what it recognises. Result >= 0, or -1 when the writer fails or
  // the bytes that follow are more than the block could have written there.
  virtual int ConvertFileTrailer(int /*direction*/, KT_RecordWriter* /*out*/, KT_RecordReader* /*in*/) {
    return 0;
  }

  // Every registered branch but 0, in registration order, through ConvertBranch; stops at the
  // first failure (-1); 1 when all succeed.
  int ConvertBlock(int direction, KT_RecordWriter* writer, KT_RecordReader* reader);
  // Fields 1..n of the branch through ConvertField; -1 at the first failure, else 1 (also at
  // once for a branch without fields). A successful decode marks the whole block (branch 0)
  // and the decoded branch as filled now.
  int ConvertBranch(int branch, int direction, KT_RecordWriter* writer, KT_RecordReader* reader);
  // Serves a message: a GET encodes the addressed part into an SCP_DATA reply frame with the
  // request's key; any other type decodes the message data into the block and leaves the
  // reply empty. Key length 1 = whole block; 2 = branch key[1] (0: whole block); 3 = field
  // key[2] of branch key[1] (branch 0: whole block; field 0: whole branch). Result: the
  // conversion's result (>= 0) or -1, with the reply empty on failure. A reply that would not
  // fit a frame is refused (error 16, 1, 3) rather than wrapped.
  int ConvertMessage(std::vector<uint8_t>& reply, const KT_ScpMessage& message);

  // The status byte: -1 = none; else 0..255.
  void SetStatus(int value) { status_ = value & 0xFF; }
  int GetStatus() const { return status_; }
  // Returns the status and sets it back to -1.
  int TakeStatus() {
    const int s = status_;
    status_ = -1;
    return s;
  }
  // Keeps the first data byte of a status message as the branch's received value. 1, or 0
  // when there is no data byte.
  int StoreReceived(int branch, const std::vector<uint8_t>& data);

  void SetRefreshPeriod(int seconds) { refresh_period_ = seconds; }
  int GetRefreshPeriod() const { return refresh_period_; }
  // Fresh: the branch was filled (time not 0) and either not longer ago than the refresh
  // period, or the period is "never" (65535 or more).
  bool IsFresh(int branch) const;

  KT_BranchTable& Branches() { return branches_; }
  const KT_BranchTable& Branches() const { return branches_; }

 protected:
  KT_BranchTable branches_;
  int refresh_period_ = kRefreshNever;
  int status_ = -1;
};
