#include "core/scp/scp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/base/peer_version.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::TraceCapture;

KT_ScpMessage Decode(const Bytes& frame) {
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(frame.data(), frame.size(), m), 0);
  return m;
}

// The reply code of a status frame, -1 for any other frame.
int StatusCode(const Bytes& frame) {
  KT_ScpMessage m = Decode(frame);
  if (m.type != SCP_STATUS || m.data.size() != 1) return -1;
  return m.data[0];
}

class ScpObject : public ::testing::Test {
 protected:
  void SetUp() override { ResetPeerSoftwareVersion(); }
  void TearDown() override { ResetPeerSoftwareVersion(); }

  int Execute(int type, Bytes key, Bytes data = {}) {
    return scp.ExecuteCommand(KT_ScpMessage(type, std::move(key), std::move(data)), reply);
  }

  TempDir dir;
  ScopedManualClock clock{5000};
  KT_SCP scp;
  Bytes reply;
};

TEST_F(ScpObject, StatusGetIsFreshForTwoSecondsThenQueuesARead) {
  scp.upsStatus.SetAlarm(ALARM_ON_BATTERY);  // fills branches 0 and 1 at 5000
  clock->Set(5002);
  ASSERT_EQ(Execute(SCP_GET, {1, 1}), 1);
  KT_ScpMessage m = Decode(reply);
  EXPECT_EQ(m.type, SCP_DATA);
  EXPECT_EQ(m.data, (Bytes{1, 1, 1}));
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);

  clock->Set(5003);
  ASSERT_EQ(Execute(SCP_GET, {1, 1}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_GET_RESEND);
  ASSERT_EQ(scp.serial_queue.Find(BLOCK_STATUS, 1), 0);
  // A second stale GET before the worker ran: one entry, same answer.
  ASSERT_EQ(Execute(SCP_GET, {1, 1}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_GET_RESEND);
  EXPECT_EQ(scp.serial_queue.GetCount(), 1);
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
  int set = -1, branch = -1;
  scp.serial_queue.ResetCursor();
  EXPECT_EQ(scp.serial_queue.GetNext(set, branch), BLOCK_STATUS);
  EXPECT_EQ(set, 0);
  EXPECT_EQ(branch, 1);
}

TEST_F(ScpObject, NeverStaleBlocksAnswerFromTheImageOnceFilledAndRouteReadsOtherwise) {
  // Meters are never filled yet: the read goes to the agent side.
  ASSERT_EQ(Execute(SCP_GET, {3, 1}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_GET_RESEND);
  EXPECT_EQ(scp.system_queue.Find(BLOCK_METERS, 1), 0);
  // UPS information: the UPS side.
  ASSERT_EQ(Execute(SCP_GET, {2, 5}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_GET_RESEND);
  EXPECT_EQ(scp.serial_queue.Find(BLOCK_UPS_INFO, 5), 0);

  scp.meters.Branches().Touch(1);
  clock->AdvanceSeconds(1000000);
  ASSERT_EQ(Execute(SCP_GET, {3, 1}), 1);
  EXPECT_EQ(Decode(reply).type, SCP_DATA);

  // Commands count as filled from construction on.
  ASSERT_EQ(Execute(SCP_GET, {27, 4}), 1);
  EXPECT_EQ(Decode(reply).data, (Bytes{255, 255, 255, 0, 255}));
}

TEST_F(ScpObject, EveryBlockIdGetsAnAnswer) {
  for (int id = 0; id < 256; ++id) {
    SCOPED_TRACE(id);
    ASSERT_EQ(Execute(SCP_GET, {static_cast<uint8_t>(id)}), 1);
    KT_ScpMessage m = Decode(reply);
    if (scp.GetBlock(id) == nullptr) {
      EXPECT_EQ(StatusCode(reply), SCP_NOT_AVAILABLE);
    } else {
      EXPECT_TRUE(m.type == SCP_DATA || StatusCode(reply) == SCP_GET_RESEND);
    }
  }
  for (int id : {1, 2, 3, 6, 8, 27}) EXPECT_NE(scp.GetBlock(id), nullptr) << id;
  // The base object serves blocks 1 and 2 only.
  KT_SCPBase host;
  ASSERT_EQ(host.ExecuteCommand(KT_ScpMessage(SCP_GET, {3}), reply), 1);
  EXPECT_EQ(StatusCode(reply), SCP_NOT_AVAILABLE);
  host.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  ASSERT_EQ(host.ExecuteCommand(KT_ScpMessage(SCP_GET, {1}), reply), 1);
  EXPECT_EQ(Decode(reply).type, SCP_DATA);
}

TEST_F(ScpObject, AddressesTheBlockDoesNotKnowAreNotAvailable) {
  for (const Bytes& key : {Bytes{10}, Bytes{27, 11}, Bytes{1, 1, 3}, Bytes{1, 4}, Bytes{6, 1, 2, 0}}) {
    ASSERT_EQ(Execute(SCP_SET, key, {1}), 1);
    EXPECT_EQ(StatusCode(reply), SCP_NOT_AVAILABLE);
    ASSERT_EQ(Execute(SCP_GET, key), 1);
    EXPECT_EQ(StatusCode(reply), SCP_NOT_AVAILABLE);
  }
  // A field the block marked "not available".
  scp.meters.Branches().SetFieldState(2, 3, FIELD_NOT_AVAILABLE);
  ASSERT_EQ(Execute(SCP_GET, {3, 2, 3}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_NOT_AVAILABLE);
  // No key: no reply can be built.
  EXPECT_EQ(Execute(SCP_GET, {}), -1);
  EXPECT_TRUE(reply.empty());
}

TEST_F(ScpObject, SetIsAppliedQueuedByItsRouteAndAnsweredSetOk) {
  TraceCapture trace;
  ASSERT_EQ(Execute(SCP_SET, {27, 5}, {1}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_SET_OK);
  EXPECT_EQ(scp.commandBlock.GetValue(COMMAND_BATTERY_TEST), 1);
  int set = -1, branch = -1;
  scp.system_queue.ResetCursor();
  EXPECT_EQ(scp.system_queue.GetNext(set, branch), BLOCK_COMMAND);
  EXPECT_EQ(set, 1);
  EXPECT_EQ(branch, 5);
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  EXPECT_TRUE(trace.Contains("2 KT_SCPBase::ExecuteCommand: Adding SCP_SET block 27, branch 5 to system_queue"));

  // A UPS-side SET goes to serial_queue as branch 0.
  ASSERT_EQ(Execute(SCP_SET, {1, 1, 2}, {2, 1, 7}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_SET_OK);
  EXPECT_EQ(scp.upsStatus.IsAlarmSet(1), 1);
  EXPECT_EQ(scp.upsStatus.IsAlarmSet(7), 1);
  EXPECT_EQ(scp.serial_queue.Find(BLOCK_STATUS, 0), 0);
  EXPECT_TRUE(trace.Contains("1 KT_SCPBase::ExecuteCommand: Adding SCP_SET block 1, branch 1 to serial_queue"));

  // Data too short for the addressed fields.
  ASSERT_EQ(Execute(SCP_SET, {27, 4}, {1, 2}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_SET_FAILED);
  EXPECT_EQ(scp.system_queue.Find(BLOCK_COMMAND, 4), -1);
}

// The UPS options that the attached UPS does not carry (a Smart-UPS, an SNMP adapter), or
// that the object holds both unknown, are refused to a SET of their branch; a SET of the whole
// block applies the rest and leaves them unknown. A UPS that carries them takes them.
TEST_F(ScpObject, UpsOptionsTheUpsDoesNotCarryAreNotAvailableToASet) {
  const struct {
    bool carried;
    uint8_t alarm, warning;  // what the object holds
    Bytes key, data;         // the whole block's data: the options sent, "Rack 9" as location
    int code;
    uint8_t alarmAfter, warningAfter;
  } kCases[] = {
      {true, 255, 255, {4, 3}, {0, 5}, SCP_NOT_AVAILABLE, 255, 255},
      {true, 255, 255, {4, 3, 1}, {0}, SCP_NOT_AVAILABLE, 255, 255},
      {true, 1, 2, {4, 3}, {0, 5}, SCP_SET_OK, 0, 5},
      {true, 1, 255, {4, 3, 2}, {5}, SCP_SET_OK, 1, 5},
      // The whole block carries the other settings too: not held back.
      {true, 255, 255, {4}, {255, 255}, SCP_SET_OK, 255, 255},
      {true, 1, 2, {4}, {0, 5}, SCP_SET_OK, 0, 5},
      // Values an earlier UPS left in config.dat are forgotten when this one is attached.
      {false, 1, 2, {4, 3}, {0, 5}, SCP_NOT_AVAILABLE, 255, 255},
      {false, 1, 2, {4, 3, 2}, {5}, SCP_NOT_AVAILABLE, 255, 255},
      {false, 255, 255, {4}, {0, 5}, SCP_SET_OK, 255, 255},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.carried << " " << int(c.alarm) << " " << c.key.size());
    scp.serial_queue.Clear();
    scp.SetUpsOptionsCarried(true);
    scp.config.SetAudibleAlarm(c.alarm);
    scp.config.SetLowBatteryWarning(c.warning);
    scp.config.SetLocation("Rack 4");
    EXPECT_EQ(scp.SetUpsOptionsCarried(c.carried), !c.carried && c.alarm != 255);
    Bytes data = c.data;
    if (c.key.size() == 1) {
      ConfigBlock image;
      image.SetAudibleAlarm(c.data[0]);
      image.SetLowBatteryWarning(c.data[1]);
      image.SetLocation("Rack 9");
      ASSERT_EQ(image.ConvertMessage(data, KT_ScpMessage(SCP_GET, {4})), 1);
      data = Decode(data).data;
    }
    ASSERT_EQ(Execute(SCP_SET, c.key, data), 1);
    EXPECT_EQ(StatusCode(reply), c.code);
    EXPECT_EQ(scp.config.GetAudibleAlarm(), c.alarmAfter);
    EXPECT_EQ(scp.config.GetLowBatteryWarning(), c.warningAfter);
    EXPECT_EQ(scp.config.GetLocation().value_or(""), c.key.size() == 1 ? "Rack 9" : "Rack 4");
    EXPECT_EQ(scp.serial_queue.GetCount(), c.code == SCP_SET_OK ? 1 : 0);
  }
}

// The timing branch alone travels in the format of the agent whose UPS information the object
// holds, whatever the peer version: a fresh agent takes and gives it; one that cannot carry it
// answers "Set Failed" rather than dropping the values. The whole block keeps the peer's rule.
TEST_F(ScpObject, TimingBranchAloneTravelsInTheAgentsFormat) {
  const Bytes timing{0, 0, 0, 5, 0, 0, 0, 60};
  const struct {
    int agentSecond;  // the UPS information's software version (255: not known)
    int peerSecond;
    Bytes key, data;
    int code;
    uint32_t polling, timeout;
  } kCases[] = {
      {1, 0, {4, 12}, timing, SCP_SET_OK, 5, 60},
      {1, 0, {4, 12, 2}, {0, 0, 0, 60}, SCP_SET_OK, 0, 60},
      {255, 1, {4, 12}, timing, SCP_SET_OK, 5, 60},
      {255, 0, {4, 12}, timing, SCP_SET_FAILED, 0, 120},
      {0, 0, {4, 12, 1}, {0, 0, 0, 5}, SCP_SET_FAILED, 0, 120},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.agentSecond << " " << c.peerSecond << " " << c.key.size());
    scp.config.SetPollingInterval(0);
    scp.config.SetCommTimeout(120);
    scp.upsInfo.SetSoftwareVersion(c.agentSecond, 4);
    SetPeerSoftwareVersion(static_cast<uint8_t>(c.peerSecond), 4);
    ASSERT_EQ(Execute(SCP_SET, c.key, c.data), 1);
    EXPECT_EQ(StatusCode(reply), c.code);
    EXPECT_EQ(scp.config.GetPollingInterval(), c.polling);
    EXPECT_EQ(scp.config.GetCommTimeout(), c.timeout);
    ASSERT_EQ(Execute(SCP_GET, {4, 12}), 1);
    KT_ScpMessage m = Decode(reply);
    EXPECT_EQ(m.type, SCP_DATA);
    const bool carried = c.agentSecond == 1 || c.peerSecond == 1;
    EXPECT_EQ(m.data.size(), carried ? 8u : 0u);
    // Whole-block replies stay as the peer reads them.
    ASSERT_EQ(Execute(SCP_GET, {4}), 1);
    Bytes whole = Decode(reply).data;
    ConfigBlock peer;
    ASSERT_EQ(peer.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4})), 1);
    EXPECT_EQ(whole.size(), Decode(reply).data.size());
    EXPECT_FALSE(scp.config.TimingOnWire() && c.peerSecond != 1);
  }
}

// Everything of a block that a SET could change: its record (what a GET of the whole block
// and its record file carry), each branch's time and field states, and the request queues.
struct SeenState {
  Bytes record;
  std::vector<std::pair<int64_t, Bytes>> branches;
  int serialRequests = 0;
  int systemRequests = 0;
  bool operator==(const SeenState&) const = default;
};

void PrintTo(const SeenState& s, std::ostream* os) {
  *os << "record";
  for (uint8_t b : s.record) *os << " " << static_cast<int>(b);
  *os << "; branch times";
  for (const auto& [time, states] : s.branches) *os << " " << time;
  *os << "; requests " << s.serialRequests << " + " << s.systemRequests;
}

SeenState StateOf(KT_SCP& scp, int blockId) {
  SeenState s;
  KT_Block* block = scp.GetBlock(blockId);
  KT_RecordWriter writer;
  EXPECT_GE(block->ConvertBlock(CONVERT_ENCODE, &writer, nullptr), 0);
  s.record = writer.Take();
  for (const auto& e : block->Branches().Entries()) s.branches.emplace_back(e.lastUpdate, e.states);
  s.serialRequests = scp.serial_queue.GetCount();
  s.systemRequests = scp.system_queue.GetCount();
  return s;
}

// Fills a request queue with other work: all of its slots, or all but the one `own` names.
void FillQueue(KT_RequestQueue& queue, std::optional<std::pair<int, int>> own = std::nullopt) {
  if (own) {
    ASSERT_EQ(queue.Post(own->first, 0, 0, own->second), 1);
  }
  for (int b = 1; queue.GetCount() < KT_RequestQueue::kSlots; ++b) {
    ASSERT_EQ(queue.Post(BLOCK_EVENT_LOG, 0, 0, 100 + b), 1);
  }
}

// Where a SET's work finds its queue.
enum QueueRoom { ROOM, SYSTEM_FULL, SERIAL_FULL, SYSTEM_FULL_WITH_IT };

// A SET is taken whole or not at all: one whose data ends before the addressed fields do,
// whose work finds no room in its queue, or whose change the keeper cannot make last, answers
// "Set Failed" and leaves the block exactly as it was (values, times, states) with nothing
// queued and nothing kept; a good one is applied, and one that failed for want of room is
// taken once the queue has room again.
TEST_F(ScpObject, SetIsTakenWholeOrNotAtAll) {
  const Bytes rack{7, 'R', 'a', 'c', 'k', ' ', '4', 0};
  const Bytes devx{5, 'D', 'E', 'V', 'X', 0};
  const Bytes newpw{7, 'N', 'e', 'w', 'p', 'w', '1', 0};
  Bytes devicesAndRack = devx;
  devicesAndRack.insert(devicesAndRack.end(), rack.begin(), rack.end());
  ConfigBlock image;
  image.SetLocation("Rack 4");
  ASSERT_EQ(image.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {4})), 1);
  const Bytes wholeConfig = Decode(reply).data;
  const struct {
    const char* what;
    Bytes key, data;
    bool kept;  // what the keeper answers
    int code;
    QueueRoom room = ROOM;
  } kCases[] = {
      {"devices and location, one text of two", {4, 4}, devx, true, SCP_SET_FAILED},
      {"delays, 2 of 7 fields", {4, 2}, {0, 90, 0, 30}, true, SCP_SET_FAILED},
      {"delays, the command cut short", {4, 2}, {0, 90, 0, 30, 0, 9, 9, 'r', 'u'}, true, SCP_SET_FAILED},
      {"timing, 4 of 8 bytes", {4, 12}, {0, 0, 0, 9}, true, SCP_SET_FAILED},
      {"the whole configuration, cut short", {4}, {0, 1, 5, 0, 90}, true, SCP_SET_FAILED},
      {"a network shutdown command, 2 of 5 fields", {27, 4}, {1, 2}, true, SCP_SET_FAILED},
      {"schedule clients, fewer than counted", {4, 10}, {2, 0, 0, 0, 1}, true, SCP_SET_FAILED},
      {"password, not kept", {4, 8}, newpw, false, SCP_SET_FAILED},
      {"location, not kept", {4, 4}, devicesAndRack, false, SCP_SET_FAILED},
      {"timing, not kept", {4, 12}, {0, 0, 0, 9, 0, 0, 0, 30}, false, SCP_SET_FAILED},
      {"a command, not kept", {27, 5}, {1}, false, SCP_SET_FAILED},
      {"a command, its queue full", {27, 5}, {1}, true, SCP_SET_FAILED, SYSTEM_FULL},
      {"location, its queue full", {4, 4}, devicesAndRack, true, SCP_SET_FAILED, SYSTEM_FULL},
      {"all the configuration, UPS queue full", {4}, wholeConfig, true, SCP_SET_FAILED, SERIAL_FULL},
      {"a command already queued, its queue full", {27, 5}, {1}, true, SCP_SET_OK, SYSTEM_FULL_WITH_IT},
      {"location, kept", {4, 4}, devicesAndRack, true, SCP_SET_OK},
      {"password, kept", {4, 8}, newpw, true, SCP_SET_OK},
  };
  scp.upsInfo.SetSoftwareVersion(1, 4);  // an agent that carries the timing branch
  int keeperCalls = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    scp.SetSetKeeper([&, kept = c.kept](int, int) {
      ++keeperCalls;
      return kept ? 1 : -1;
    });
    scp.serial_queue.Clear();
    scp.system_queue.Clear();
    if (c.room == SERIAL_FULL) FillQueue(scp.serial_queue);
    if (c.room == SYSTEM_FULL) FillQueue(scp.system_queue);
    if (c.room == SYSTEM_FULL_WITH_IT) FillQueue(scp.system_queue, std::pair<int, int>(c.key[0], c.key[1]));
    scp.commandBlock.SetValue(COMMAND_BATTERY_TEST, 0);
    ASSERT_EQ(scp.config.SetLocation("Old place"), 1);
    ASSERT_EQ(scp.config.SetPoweredDevices("Old devices"), 1);
    ASSERT_EQ(scp.config.SetPreShutdownCommand("/bin/old"), 1);
    ASSERT_GE(scp.config.Password().Set("Oldpw1"), 0);
    scp.config.SetOsShutdownTime(120);
    scp.config.SetPollingInterval(3);
    scp.config.SetCommTimeout(120);
    clock->AdvanceSeconds(7);  // a SET that touched a branch would show in its time
    const SeenState before = StateOf(scp, c.key[0]);
    const int calls = keeperCalls;
    ASSERT_EQ(Execute(SCP_SET, c.key, c.data), 1);
    EXPECT_EQ(StatusCode(reply), c.code);
    if (c.code == SCP_SET_OK) {
      EXPECT_NE(StateOf(scp, c.key[0]), before);
      EXPECT_EQ(scp.system_queue.Find(c.key[0], c.key[1]), 0);
      continue;
    }
    EXPECT_EQ(StateOf(scp, c.key[0]), before);
    // Data that does not decode, or finds no room, never reaches the keeper.
    EXPECT_EQ(keeperCalls - calls, c.kept ? 0 : 1);
    if (c.room == ROOM) continue;
    // The worker has done its work: the SET sent again is taken.
    scp.serial_queue.Clear();
    scp.system_queue.Clear();
    ASSERT_EQ(Execute(SCP_SET, c.key, c.data), 1);
    EXPECT_EQ(StatusCode(reply), SCP_SET_OK);
    EXPECT_NE(StateOf(scp, c.key[0]), before);
  }
  EXPECT_EQ(scp.config.Password().Get(), std::optional<std::string>("Newpw1"));
  scp.SetSetKeeper(nullptr);
}

// Received data is taken whole or not at all: data that does not decode (cut short, or a
// reply of another layout) leaves the block exactly as it was, with status 8.
TEST_F(ScpObject, ReceivedDataAndStatusUpdateTheBlockStatus) {
  EXPECT_EQ(Execute(SCP_DATA, {1, 1}, {1, 1, 5}), 1);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(scp.upsStatus.IsAlarmSet(5), 1);
  EXPECT_EQ(scp.upsStatus.TakeStatus(), 4);

  scp.meters.SetBatteryCapacity(100);
  scp.meters.SetInputVoltage(0, 250);
  scp.meters.SetOutputVoltage(0, 230);
  MeterBlock narrow;  // the meters as an agent of the short layout sends them
  narrow.SetBatteryCapacity(90);
  SetPeerSoftwareVersion(0, 30);
  ASSERT_EQ(narrow.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {3})), 1);
  const Bytes shortForm = Decode(reply).data;
  SetPeerSoftwareVersion(1, 4);  // the console reads the long one
  const struct {
    Bytes key, data;
  } kCuts[] = {
      {{1, 2}, {1, 2}}, {{1}, {1, 1, 5, 0}}, {{3}, shortForm}, {{3, 1}, {1, 2, 3}}, {{4, 4}, {5, 'D', 'E'}}};
  for (const auto& c : kCuts) {
    SCOPED_TRACE(testing::PrintToString(c.key));
    clock->AdvanceSeconds(3);
    const SeenState before = StateOf(scp, c.key[0]);
    EXPECT_EQ(Execute(SCP_DATA, c.key, c.data), -1);
    EXPECT_EQ(StateOf(scp, c.key[0]), before);
    EXPECT_EQ(scp.GetBlock(c.key[0])->TakeStatus(), 8);
  }
  EXPECT_EQ(scp.meters.GetBatteryCapacity(), 100);
  clock->Set(5000);

  EXPECT_EQ(Execute(SCP_STATUS, {2, 5}, {1}), 1);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(scp.upsInfo.GetStatus(), 1);
  int value = -1;
  EXPECT_EQ(scp.upsInfo.Branches().GetReceived(5, value), 5000);
  EXPECT_EQ(value, 1);
  // A status message without data.
  EXPECT_EQ(Execute(SCP_STATUS, {27, 1}), 1);
  EXPECT_EQ(scp.commandBlock.GetStatus(), 8);
}

TEST_F(ScpObject, DataReplyTooLargeForAFrameIsAFailedGet) {
  for (int i = 0; i < 11000; ++i) scp.alarmQueue.Add(1, static_cast<uint32_t>(i), 0);  // 66004 bytes
  ASSERT_EQ(Execute(SCP_GET, {8}), 1);
  EXPECT_EQ(StatusCode(reply), SCP_GET_FAILED);
  scp.alarmQueue.Clear();
  scp.alarmQueue.Add(1, 16, 1);
  ASSERT_EQ(Execute(SCP_GET, {8}), 1);
  EXPECT_EQ(Decode(reply).data, (Bytes{0, 1, 0, 1, 1, 0, 0, 0, 0x10, 1}));
}

TEST_F(ScpObject, QueueRequestSendsTheImageAsASetAndNeverAStatusReply) {
  scp.commandBlock.SetValue(COMMAND_BATTERY_TEST, 1);
  ASSERT_EQ(scp.QueueRequest(27, 5, 0, 1), 1);
  ScpQueueEntry e;
  ASSERT_EQ(scp.requestTable.Next(e), 0);
  EXPECT_EQ(e.frame, (Bytes{0xC0, 0, 10, SCP_SET, 2, 27, 5, 0, 1, 1}));
  EXPECT_EQ(e.key, (Bytes{27, 5}));
  EXPECT_EQ(e.host, 1);

  // The status block's image is stale: nothing is queued, and no read is posted either.
  EXPECT_EQ(scp.QueueRequest(1, 1, 0, 1), -1);
  EXPECT_EQ(scp.errorClass, ERR_SCP_OBJECT);
  EXPECT_EQ(scp.function, 3);
  // Unknown branch or block.
  EXPECT_EQ(scp.QueueRequest(27, 11, 0, 1), -1);
  EXPECT_EQ(scp.QueueRequest(40, 0, 0, 1), -1);
  EXPECT_EQ(scp.requestTable.GetCount(), 1);
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
}

TEST_F(ScpObject, QueueGetRequestKeyForms) {
  ASSERT_EQ(scp.QueueGetRequest(2, 1, 0, 0, 3), 1);
  ASSERT_EQ(scp.QueueGetRequest(1, 0, 0, 1, 3), 1);
  ASSERT_EQ(scp.QueueGetRequest(4, 8, 1, 0, 3), 1);
  ASSERT_EQ(scp.QueueGetRequest(4, 0, 2, 0, 3), 1);  // a field names the branch too
  ScpQueueEntry e;
  std::vector<Bytes> frames;
  while (scp.requestTable.Next(e) >= 0) {
    frames.push_back(e.frame);
    scp.requestTable.MarkSent(static_cast<int>(frames.size()) - 1);
  }
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0], (Bytes{0xC0, 0, 8, 1, 0, 2, 2, 1}));
  EXPECT_EQ(frames[1], (Bytes{0xC0, 0, 7, 1, 1, 1, 1}));
  EXPECT_EQ(frames[2], (Bytes{0xC0, 0, 9, 1, 0, 3, 4, 8, 1}));
  EXPECT_EQ(frames[3], (Bytes{0xC0, 0, 9, 1, 0, 3, 4, 0, 2}));
}

TEST_F(ScpObject, ContactTimeOutFlagsAndUpsDataReset) {
  EXPECT_FALSE(scp.IsCommTimedOut());
  clock->Set(5090);
  EXPECT_FALSE(scp.IsCommTimedOut());
  clock->Set(5091);
  EXPECT_TRUE(scp.IsCommTimedOut());
  EXPECT_EQ(scp.TouchCommTime(), 5091);
  EXPECT_FALSE(scp.IsCommTimedOut());
  EXPECT_EQ(scp.SecondsSinceStart(), 91);

  EXPECT_EQ(scp.GetFlags(), 0u);
  scp.SetFlag(SCP_FLAG_SNMP);
  scp.SetFlag(SCP_FLAG_TCPIP);
  EXPECT_TRUE(scp.HasSnmpSupport());
  EXPECT_TRUE(scp.HasTcpIpSupport());
  EXPECT_FALSE(scp.HasSnmpServiceSupport());
  scp.ClearFlag(SCP_FLAG_SNMP);
  EXPECT_EQ(scp.GetFlags(), static_cast<uint32_t>(SCP_FLAG_TCPIP));

  scp.upsInfo.SetModelIndex(3);
  scp.upsInfo.Branches().Touch(2);
  scp.meters.SetTemperature(30);
  scp.ResetUpsData();
  EXPECT_EQ(scp.upsInfo.GetModelIndex(), 255);
  EXPECT_EQ(scp.upsInfo.Branches().GetTime(2), 0);
  EXPECT_EQ(scp.meters.GetTemperature(), 255);
}

TEST(ScpReplyCodes, Texts) {
  EXPECT_EQ(ScpReplyCodeText(0), "Set OK");
  EXPECT_EQ(ScpReplyCodeText(1), "Get Resend");
  EXPECT_EQ(ScpReplyCodeText(3), "Get Failed");
  EXPECT_EQ(ScpReplyCodeText(6), "Not Available");
  EXPECT_EQ(ScpReplyCodeText(9), "Bad SCP Status = 9");
}

// The monitor loop changes alarms while a server answers GETs of the whole status block: with
// both under the object's lock every answer is a consistent block.
TEST(ScpObjectLocking, AnswersSeeWholeUpdates) {
  TempDir dir;
  KT_SCP scp;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      auto lock = scp.Lock();
      scp.upsStatus.ClearAllAlarms();
      for (int code = 0; code < i % 25; ++code) scp.upsStatus.SetAlarm(code);
    }
    stop = true;
  });
  int answers = 0;
  while (!stop || answers == 0) {
    Bytes reply;
    ASSERT_EQ(scp.ExecuteCommand(KT_ScpMessage(SCP_GET, {1, 1}), reply), 1);
    KT_ScpMessage m;
    ASSERT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
    if (m.type != SCP_DATA) continue;
    ASSERT_GE(m.data.size(), 3u);
    const size_t n = m.data[0];
    ASSERT_EQ(m.data[1], n);
    ASSERT_EQ(m.data.size(), n == 0 ? 3u : 2 + n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(m.data[2 + i], i);  // codes 0 .. n-1
    ++answers;
  }
  writer.join();
}

}  // namespace
