// The adapter client filling its image (identification, status, meters) from a real snmpd.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/adapters/snmp.h"
#include "core/base/ups_identification.h"
#include "tests/core/adapters/snmp_client/client_fixture.h"

namespace {

using ImageTest = AdapterClientTest;

std::string Lines(int count, int voltageBase) {
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ", ";
    json += "{\"frequency\": " + std::to_string(500 + i) + ", \"voltage\": " + std::to_string(voltageBase + i) +
            ", \"current\": " + std::to_string(10 * (i + 1)) + ", \"power\": " + std::to_string(100 * (i + 1)) + "}";
  }
  return json + "]";
}

TEST_F(ImageTest, IdentificationVersionsSerialNumberAndRatings) {
  std::unique_ptr<KT_SNMP> client = Client();
  ASSERT_EQ(client->UpdateInfo(), 1);
  ASSERT_EQ(client->UpdateCapabilities(), 1);
  KT_SCP& image = client->Image();
  UpsInfoBlock& info = image.upsInfo;
  EXPECT_EQ(info.GetInterfaceType(), 5);
  EXPECT_EQ(info.GetOsType(), 12);
  EXPECT_EQ(info.GetManufacturer(), kManufacturerOwn);
  EXPECT_EQ(info.GetModelIndex(), 255);  // "UPS 1500" on one line names no model
  EXPECT_EQ(info.GetVersionMajor(), 2);   // "FW: 2.15"
  EXPECT_EQ(info.GetVersionMinor(), 15);
  EXPECT_EQ(info.GetAdapterVersionMajor(), 3);  // "Adapter 3.02"
  EXPECT_EQ(info.GetAdapterVersionMinor(), 2);
  EXPECT_EQ(info.GetSerialNumber(), "0123456789ABCDEF");
  EXPECT_EQ(info.GetCto(), "CTO-000000000000");
  EXPECT_EQ(info.GetVARating(), 1500);
  EXPECT_EQ(info.GetWattRating(), 1050);
  EXPECT_EQ(info.GetModelText(), "1.50 kVA");
  EXPECT_EQ(info.GetNominalInputVoltage(), 120);
  EXPECT_EQ(info.GetNominalOutputFrequency(), 60);
  EXPECT_EQ(info.GetNumberOfPhases(), 1);
  EXPECT_EQ(image.meters.GetLoadVARating(), 150u);
  EXPECT_TRUE(info.IsFresh(2));
  EXPECT_EQ(info.IsFunctionSupported(3, 5), 1);
  EXPECT_EQ(info.IsFunctionSupported(0, 0), 0);

  // Odd texts: no dot leaves a version alone; tags at the very end give empty fields.
  peer_.SetText("ident_ups_software_version", "rev B");
  peer_.SetText("ident_agent_software_version", "7.1");
  peer_.SetText("ident_name", "serial Msg:");
  peer_.SetInt("config_output_va", 999);
  ASSERT_EQ(client->UpdateInfo(), 1);
  EXPECT_EQ(info.GetVersionMajor(), 2);
  EXPECT_EQ(info.GetAdapterVersionMajor(), 7);
  EXPECT_EQ(info.GetSerialNumber(), "serial Msg:");
  EXPECT_EQ(info.GetCto(), "");
  EXPECT_EQ(info.GetModelText(), "999 VA");
  peer_.SetText("ident_name", std::string(60, 'x') + "ID:" + "beyond the 63 bytes of the object");
  peer_.SetInt("config_output_va", 1000);
  ASSERT_EQ(client->UpdateInfo(), 1);
  EXPECT_EQ(info.GetSerialNumber(), "");
  EXPECT_EQ(info.GetModelText(), "1.00 kVA");

  // The agent's own image: driven by the agent, its capabilities by model.
  KT_SCP agentImage;
  std::unique_ptr<KT_SNMP> agent = Client(&agentImage);
  peer_.SetText("ident_model", "OSTREL Aurora 3000");
  ASSERT_EQ(agent->UpdateInfo(), 1);
  ASSERT_EQ(agent->UpdateCapabilities(), 1);
  EXPECT_EQ(agentImage.upsInfo.GetInterfaceType(), 2);
  EXPECT_EQ(agentImage.upsInfo.GetModelIndex(), 6);
  EXPECT_EQ(agentImage.upsInfo.IsFunctionSupported(3, 3), 1);
  EXPECT_EQ(agentImage.notify.TestSupportBit(SUPPORT_EVENTS, 2, 5), 1);
  EXPECT_EQ(agentImage.notify.TestSupportBit(SUPPORT_ACTIONS, 1, 3), 1);
}

struct ModelCase {
  const char* model;
  int outputVA;
  int inputLines;
  int modelIndex;  // 255: the block keeps its unknown model
  int variant;
};

TEST_F(ImageTest, ModelTableOrderThroughTheAdapter) {
  const ModelCase cases[] = {
      {"Halcyon Keystone 10", 1500, 1, 12, 0},   // the earlier rule wins
      {"Meridian 30", 30000, 1, 5, 0},
      {"Meridian 30", 29999, 1, 2, 0},
      {"Meridian Compact 40", 40000, 1, 2, 0},
      {"OSTREL Aurora 1500", 1500, 1, 6, 0},
      {"Aurora 1500", 1500, 1, 1, 0},
      {"VARNIS L/I 2000", 2000, 1, 3, 2},
      {"VARNIS 2000", 2000, 1, 3, 0},
      {"Smart-UPS 1400", 1400, 1, 8, 2},
      {"Generic 10K", 10000, 3, 13, 0},
      {"Generic 10K", 10000, 1, 255, 255},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.outputVA) + " VA, " + std::to_string(c.inputLines) + " lines");
    peer_.SetText("ident_model", c.model);
    peer_.SetInt("config_output_va", c.outputVA);
    peer_.SetRaw("input_lines", Lines(c.inputLines, 230));
    std::unique_ptr<KT_SNMP> client = Client();
    client->UpdateInfo();
    EXPECT_EQ(client->Image().upsInfo.GetModelIndex(), c.modelIndex);
    EXPECT_EQ(client->Image().upsInfo.GetVariant(), c.variant);
  }

  // Makers by name; an unknown one leaves the code as it was.
  std::unique_ptr<KT_SNMP> client = Client();
  peer_.SetText("ident_manufacturer", "Harvan Power Systems");
  client->UpdateInfo();
  EXPECT_EQ(client->Image().upsInfo.GetManufacturer(), kManufacturerHarvan);
  peer_.SetText("ident_manufacturer", "Acme");
  client->UpdateInfo();
  EXPECT_EQ(client->Image().upsInfo.GetManufacturer(), kManufacturerHarvan);
}

struct AlarmTableCase {
  const char* table;        // the adapter's alarm table, in its listing order
  std::vector<int> active;  // the status alarms raised afterwards
};

TEST_F(ImageTest, StatusFollowsTheAdapterAlarmTable) {
  KT_SCP image;
  std::unique_ptr<KT_SNMP> client = Client(&image);
  StatusBlock& status = image.upsStatus;
  auto active = [&] {
    std::vector<int> codes;
    for (int code = 0; code < 25; ++code) {
      if (status.IsAlarmSet(code) == 1) codes.push_back(code);
    }
    return codes;
  };

  // The table is a set: its rows come in no particular order. On battery is any of on
  // battery, input bad or bypass bad; low battery counts as such only while on battery, and
  // as a battery problem on mains. The cases run in turn on one image, so each also shows
  // that what the previous table raised is cleared.
  const AlarmTableCase cases[] = {
      {"[2]", {1}},        // a standard adapter: on battery without an input alarm
      {"[2, 3]", {1, 2}},  // ... and then low battery
      {"[3, 2]", {1, 2}},
      {"[3, 6]", {1, 2, 4}},  // low battery listed before input bad
      {"[6, 2]", {1, 4}},
      {"[2, 6]", {1, 4}},
      {"[6, 2, 3]", {1, 2, 4}},  // input bad first: as it always was
      {"[3]", {0}},              // low battery on mains is a bad battery
      {"[10, 3]", {1, 2, 4}},    // bypass bad is an outage too
      {"[1, 6]", {0, 1, 4}},     // a bad battery the adapter reports stays with an outage
      {"[1]", {0}},              // the outage ends, the bad battery stays
      {"[4, 2]", {0, 1}},        // depleted battery
      {"[18, 2]", {1, 3}},       // a general fault on battery, wherever it is listed
      {"[8, 9, 20, 24, 6, 18]", {1, 3, 4, 5, 6, 7, 17}},
      {"[18, 11, 99]", {}},  // a general fault on mains maps to nothing; unknown numbers are skipped
      {"[5]", {3}},
      {"[]", {}},
  };
  for (const AlarmTableCase& c : cases) {
    SCOPED_TRACE(c.table);
    peer_.SetRaw("alarms", c.table);
    ASSERT_EQ(client->UpdateStatus(), 1);
    EXPECT_EQ(active(), c.active);
  }
  EXPECT_TRUE(status.IsFresh(1));
}

TEST_F(ImageTest, MissingOrSilentAdapterIsLostCommunication) {
  KT_SCP image;
  std::unique_ptr<KT_SNMP> client = Client(&image);
  peer_.SetRaw("alarms", "[2]");

  // noSuchName for upsAlarmsPresent: the answer is a failure, the image keeps its alarms.
  peer_.SetRaw("missing", "[\"1.3.6.1.2.1.33.1.6.1.0\"]");
  EXPECT_EQ(client->UpdateStatus(), 0);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);
  peer_.Remove("missing");
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 0);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);

  // An unknown community gets no answer at all.
  std::unique_ptr<KT_SNMP> stranger = Client(&image, "nobody", "nobody");
  EXPECT_EQ(stranger->UpdateStatus(), 0);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 1);

  // A missing rating leaves the block as it was; a missing name is the info result.
  std::unique_ptr<KT_SNMP> console = Client();
  peer_.SetRaw("missing", "[\"1.3.6.1.2.1.33.1.9.5.0\", \"1.3.6.1.2.1.33.1.1.5.0\", \"1.3.6.1.2.1.33.1.1.2.0\"]");
  EXPECT_EQ(console->UpdateInfo(), 0);
  EXPECT_EQ(console->Image().upsInfo.GetVARating(), -1);
  EXPECT_FALSE(console->Image().upsInfo.GetSerialNumber());
  EXPECT_EQ(console->Image().upsInfo.GetWattRating(), 1050);
  EXPECT_FALSE(console->ProbeAdapter());
}

// A client whose thread may be told to stop waits for each answer in slices: an answering
// adapter is read as always, a silent one (an unknown community gets no answer at all) after
// the library's tries and time-out; once the stop holds, a silent adapter is left within a
// slice, and nothing more is sent.
TEST_F(ImageTest, AStopEndsTheWaitForASilentAdapter) {
  KT_SCP image;
  std::atomic<bool> stop{false};
  std::unique_ptr<KT_SNMP> client = Client(&image);
  client->SetStopCheck([&stop] { return stop.load(); });
  peer_.SetRaw("alarms", "[2]");
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);

  // Unstopped, a silent adapter is asked with the library's tries and left after its
  // time-out; its request then never answers into a later one.
  std::unique_ptr<KT_SNMP> silent = Client(&image, "nobody", "nobody");
  silent->SetStopCheck([&stop] { return stop.load(); });
  EXPECT_EQ(silent->UpdateStatus(), 0);
  EXPECT_TRUE(silent->IsSessionOpen());
  peer_.SetRaw("alarms", "[]");
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);

  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(silent->UpdateStatus(), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stopper.join();
  EXPECT_LT(seconds, 2.0);  // three seconds of tries without the stop
  EXPECT_FALSE(silent->IsSessionOpen());
  const int packets = peer_.PacketsReceived();
  EXPECT_EQ(silent->ProbeAdapter(), std::nullopt);
  EXPECT_EQ(peer_.PacketsReceived(), packets);
}

TEST_F(ImageTest, AlarmCountsAndEntriesFromTheAdapterAreBounded) {
  KT_SCP image;
  std::unique_ptr<KT_SNMP> client = Client(&image);

  // A count far above the table: the walk ends where the column does.
  peer_.SetRaw("alarms", "[2, 6]");
  peer_.SetInt("alarms_present", 1000);
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  EXPECT_EQ(CountRequests("getnext", ".1.3.6.1.2.1.33.1.6.2.1.2"), 3);

  // Thirty real entries: at most 25 are read.
  std::string thirty = "[";
  for (int i = 0; i < 30; ++i) thirty += (i > 0 ? ", " : "") + std::string("11");
  peer_.SetRaw("alarms", thirty + "]");
  peer_.Remove("alarms_present");
  const int before = CountRequests("getnext", ".1.3.6.1.2.1.33.1.6.2.1.2");
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(CountRequests("getnext", ".1.3.6.1.2.1.33.1.6.2.1.2") - before, 25);

  // Counts that are not counts.
  peer_.SetRaw("alarms", "[2]");
  peer_.SetInt("alarms_present", -5);  // a Gauge above 2^31
  EXPECT_EQ(client->UpdateStatus(), -1);
  peer_.Remove("alarms_present");
  peer_.SetRaw("override", "{\"1.3.6.1.2.1.33.1.6.1.0\": {\"type\": \"string\", \"value\": \"two\"}}");
  EXPECT_EQ(client->UpdateStatus(), -1);

  // Entries whose description is not a well-known alarm are skipped, the rest still count.
  peer_.SetRaw("override", "{}");
  peer_.SetRaw("alarms", "[{\"descr\": \"1.3.6.1.4.1.32473.1.6.9\"}, {\"descr\": \"1.3.6.1.2.1.33.1.6\"}, 8]");
  EXPECT_EQ(client->UpdateStatus(), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_OVERLOAD), 1);
  EXPECT_EQ(image.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);
  peer_.SetRaw("alarms", "[2]");
  peer_.SetRaw("override", "{\"1.3.6.1.2.1.33.1.6.2.1.2.7\": {\"type\": \"string\", \"value\": \"on battery\"}}");
  EXPECT_EQ(client->UpdateStatus(), 1);
}

TEST_F(ImageTest, MetersOfOneAndThreeInputLines) {
  std::unique_ptr<KT_SNMP> client = Client();
  MeterBlock& meters = client->Image().meters;
  ASSERT_EQ(client->UpdateMeters(), 1);
  EXPECT_EQ(meters.GetInputVoltage(0), 120);
  EXPECT_EQ(meters.GetOutputVoltage(0), 120);
  EXPECT_EQ(meters.GetOutputCurrent(0), 40);
  EXPECT_EQ(meters.GetOutputVA(), 480);  // 120 V x 4.0 A
  EXPECT_EQ(meters.GetOutputWatts(), 450);
  EXPECT_EQ(meters.GetInputFrequency(), 60);
  EXPECT_EQ(meters.GetOutputFrequency(), 60);
  EXPECT_EQ(meters.GetBatteryVoltage(), 546);
  EXPECT_EQ(meters.GetBatteryTime(), 45 * 60);
  EXPECT_EQ(meters.GetBatteryCapacity(), 100);
  EXPECT_EQ(meters.GetInputVoltage(1), 0xFFFF);
  EXPECT_TRUE(meters.IsFresh(3));

  peer_.SetRaw("input_lines", Lines(3, 230));
  peer_.SetRaw("output_lines", Lines(3, 220));
  ASSERT_EQ(client->UpdateMeters(), 1);
  for (int phase = 0; phase < 3; ++phase) {
    EXPECT_EQ(meters.GetInputVoltage(phase), 230 + phase);
    EXPECT_EQ(meters.GetOutputVoltage(phase), 220 + phase);
    EXPECT_EQ(meters.GetOutputCurrent(phase), 10 * (phase + 1));
  }
  EXPECT_EQ(meters.GetOutputVA(), (220 * 10 + 221 * 20 + 222 * 30) / 10 / 10 * 10);
  EXPECT_EQ(meters.GetOutputWatts(), 600);
  EXPECT_EQ(meters.GetInputFrequency(), 50);  // the last line's 502 / 10
}

TEST_F(ImageTest, InputLineCountFromTheAdapterIsBounded) {
  std::unique_ptr<KT_SNMP> client = Client();
  peer_.SetRaw("input_lines", Lines(3, 230));
  peer_.SetRaw("output_lines", Lines(3, 220));
  peer_.SetInt("input_num_lines", 1000);
  ASSERT_EQ(client->UpdateMeters(), 1);
  EXPECT_EQ(client->Image().meters.GetInputVoltage(2), 232);
  EXPECT_EQ(CountRequests("get", ".1.3.6.1.2.1.33.1.3.3.1.3."), 3);
  EXPECT_EQ(CountRequests("get", ".1.3.6.1.2.1.33.1.3.3.1.3.4"), 0);

  // A negative count, or one of the wrong type, reads no line but every other meter.
  std::unique_ptr<KT_SNMP> other = Client();
  peer_.SetInt("input_num_lines", -1);
  ASSERT_EQ(other->UpdateMeters(), 1);
  EXPECT_EQ(other->Image().meters.GetInputVoltage(0), 0xFFFF);
  EXPECT_EQ(other->Image().meters.GetBatteryCapacity(), 100);
  peer_.Remove("input_num_lines");
  peer_.SetRaw("override", "{\"1.3.6.1.2.1.33.1.3.2.0\": {\"type\": \"objectid\", \"value\": \"1.3.6.1\"},"
                           " \"1.3.6.1.2.1.33.1.2.5.0\": {\"type\": \"string\", \"value\": \"999\"}}");
  ASSERT_EQ(other->UpdateMeters(), 1);
  EXPECT_EQ(other->Image().meters.GetInputVoltage(0), 0xFFFF);
  EXPECT_EQ(other->Image().meters.GetBatteryVoltage(), 546);  // a text is not a voltage: kept
}

}  // namespace
