// The agent's record files: exact layouts, round trips, damaged and missing files, the log
// trimming and the confinement of configured file names.
#include "agent/engine/daemon.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>

#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "platform/record_file.h"
#include "platform/system_log.h"
#include "tests/agent/agent_fakes.h"
#include "tests/support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

class DaemonTest : public ::testing::Test {
 protected:
  DaemonTest() : services(scp) {
    platform::SetSystemLogSink([this](std::string_view, platform::LogEntryType, std::string_view text) {
      syslog.push_back(std::string(text));
    });
  }
  ~DaemonTest() override { platform::SetSystemLogSink(nullptr); }

  std::vector<uint8_t> Encode(KT_Block& block) {
    KT_RecordWriter w;
    EXPECT_GE(block.ConvertBlock(CONVERT_ENCODE, &w, nullptr), 0);
    return w.Take();
  }

  TempDir dir;
  KT_SCP scp;
  FakeServices services;
  std::vector<std::string> syslog;
};

TEST_F(DaemonTest, ConfigFileStartsWithFormatMarkerAndReadsBack) {
  scp.config.SetSerialDeviceName("/dev/ttyS1");
  scp.config.SetCommMode(COMM_SERIAL_NORMAL);
  scp.config.SetOsShutdownTime(300);
  scp.config.SetPollingInterval(10);
  scp.config.SetCommTimeout(30);
  ASSERT_EQ(services.WriteConfigFile(), 1);
  const auto bytes = ReadFileBytes(kConfigFileName);
  ASSERT_GT(bytes.size(), 12u);
  EXPECT_EQ(bytes[0], 203);
  // Branch 1 follows: the device name as a counted text.
  EXPECT_EQ(bytes[1], 11);
  EXPECT_EQ(std::string(bytes.begin() + 2, bytes.begin() + 12), "/dev/ttyS1");
  // The timing values of branch 12 close the file.
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 8, bytes.end()), (std::vector<uint8_t>{0, 0, 0, 10, 0, 0, 0, 30}));

  KT_SCP other;
  FakeServices reader(other);
  ASSERT_EQ(reader.ReadConfigFile(), 1);
  EXPECT_EQ(other.config.GetSerialDeviceName(), "/dev/ttyS1");
  EXPECT_EQ(other.config.GetCommMode(), COMM_SERIAL_NORMAL);
  EXPECT_EQ(other.config.GetOsShutdownTime(), 300);
  EXPECT_FALSE(other.config.IsFileConversion());
  EXPECT_EQ(other.config.GetFormatSelector(), 2);
  EXPECT_NE(other.config.Branches().GetTime(13), 0);
  EXPECT_NE(other.config.Branches().GetTime(12), 0);
}

// Every format of config.dat reads: the file written now whole, one of format 2 (as earlier
// versions wrote it) and one without a marker as before, their timing values at the defaults;
// and an agent of format 2 still reads every other setting of a file written now.
TEST_F(DaemonTest, ConfigFileOfEveryFormatReads) {
  ConfigBlock& c = scp.config;
  c.SetSerialDeviceName("/dev/ttyS1");
  c.SetCommMode(COMM_SERIAL_NORMAL);
  c.SetEventLogFileName("upsevents.log");
  c.SetAdapterName("adapter.example");
  c.SetNoLoopbackTest(0);
  c.SetPollingInterval(10);
  c.SetCommTimeout(30);
  ASSERT_EQ(services.WriteConfigFile(), 1);
  const std::vector<uint8_t> now = ReadFileBytes(kConfigFileName);
  std::vector<uint8_t> format2{202};
  {
    c.SetFileConversion(true);
    c.SetFormatSelector(2);
    KT_RecordWriter w;
    ASSERT_GE(c.ConvertBlock(CONVERT_ENCODE, &w, nullptr), 0);
    c.SetFileConversion(false);
    const std::vector<uint8_t> branches = w.Take();
    format2.insert(format2.end(), branches.begin(), branches.end());
  }
  const std::vector<uint8_t> unmarked(format2.begin() + 1, format2.end());

  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    int readAs;  // -1: by the file's marker, as this agent reads it; else that format from byte 1
    bool timing;
  };
  const Case cases[] = {
      {"written now", now, -1, true},
      {"format 2", format2, -1, false},
      {"no marker", unmarked, -1, false},
      {"written now, read by an agent of format 2", now, 2, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    KT_SCP other;
    if (k.readAs < 0) {
      WriteFileBytes(kConfigFileName, k.file);
      FakeServices reader(other);
      ASSERT_EQ(reader.ReadConfigFile(), 1);
    } else {
      other.config.SetFileConversion(true);
      other.config.SetFormatSelector(k.readAs);
      KT_RecordReader r(k.file.data() + 1, k.file.size() - 1);
      ASSERT_GE(other.config.ConvertBlock(CONVERT_DECODE, nullptr, &r), 0);
    }
    const ConfigBlock& o = other.config;
    EXPECT_EQ(o.GetSerialDeviceName(), "/dev/ttyS1");
    EXPECT_EQ(o.GetCommMode(), COMM_SERIAL_NORMAL);
    EXPECT_EQ(o.GetEventLogFileName(), "upsevents.log");
    EXPECT_EQ(o.GetAdapterName(), "adapter.example");
    EXPECT_EQ(o.GetNoLoopbackTest(), 0u);
    EXPECT_EQ(o.GetPollingInterval(), k.timing ? 10u : 0u);
    EXPECT_EQ(o.GetCommTimeout(), k.timing ? 30u : 120u);
  }

  // A file of this format cut inside its timing values is damaged: the block keeps what it had.
  std::vector<uint8_t> cut = now;
  cut.resize(cut.size() - 2);
  WriteFileBytes(kConfigFileName, cut);
  KT_SCP other;
  other.config.SetPollingInterval(7);
  FakeServices reader(other);
  EXPECT_EQ(reader.ReadConfigFile(), -1);
  EXPECT_EQ(other.config.GetPollingInterval(), 7u);
  EXPECT_FALSE(other.config.GetSerialDeviceName().has_value());
}

TEST_F(DaemonTest, ConfigFileWithoutMarkerDecodesFromFirstByte) {
  scp.config.SetSerialDeviceName("COM2");
  ASSERT_EQ(services.WriteConfigFile(), 1);
  auto bytes = ReadFileBytes(kConfigFileName);
  bytes.erase(bytes.begin());  // no marker: the first byte, 0x05, is the name's count
  ASSERT_EQ(bytes[0], 0x05);
  WriteFileBytes(kConfigFileName, bytes);
  KT_SCP other;
  FakeServices reader(other);
  ASSERT_EQ(reader.ReadConfigFile(), 1);
  EXPECT_EQ(other.config.GetSerialDeviceName(), "COM2");
}

TEST_F(DaemonTest, EveryBlockFileRoundTrips) {
  scp.schedShutdown.Reset();
  schedule_struct entry;
  entry.startTime = 2000000000;
  entry.frequency = SCHED_ONCE;
  scp.schedShutdown.SetEntries(1, &entry);
  scp.receptacles.SetCount(2);
  scp.receptacles.SetNonCriticalSegment(1);
  scp.receptacles.SetDownDelay(1, 30);
  scp.batteryTest.SetMode(1);
  scp.batteryInfo.AddOutageCount(3);
  const uint8_t event = EVENT_ON_BATTERY;
  scp.eventLog.AddRecord(1000, 1, &event);
  scp.notify.SetDefaultActions();
  const uint8_t code = 2;
  scp.batteryLog.AddRecord(1001, 1, &code);

  for (int f = 0; f < kAgentFileCount; ++f) ASSERT_EQ(services.WriteAgentFile(static_cast<AgentFile>(f)), 1) << f;

  KT_SCP other;
  FakeServices reader(other);
  for (int f = 0; f < kAgentFileCount; ++f) ASSERT_EQ(reader.ReadAgentFile(static_cast<AgentFile>(f)), 1) << f;
  EXPECT_EQ(Encode(other.schedShutdown), Encode(scp.schedShutdown));
  EXPECT_EQ(Encode(other.receptacles), Encode(scp.receptacles));
  EXPECT_EQ(Encode(other.batteryTest), Encode(scp.batteryTest));
  EXPECT_EQ(Encode(other.batteryInfo), Encode(scp.batteryInfo));
  EXPECT_EQ(Encode(other.eventLog), Encode(scp.eventLog));
  EXPECT_EQ(Encode(other.batteryLog), Encode(scp.batteryLog));
  EXPECT_EQ(other.notify.GetActionCount(), scp.notify.GetActionCount());
  // Each file holds exactly the block's record form.
  EXPECT_EQ(ReadFileBytes(kSchedShutdownFileName), Encode(scp.schedShutdown));
  EXPECT_EQ(ReadFileBytes(kLoadBankFileName), Encode(scp.receptacles));
}

// A record file that cannot be written (the disk full or read-only; here a directory in the
// way) keeps its old contents, and is written with its block's contents of then on the first
// pass after there is room again, without a further change; the passes before stay quiet.
TEST_F(DaemonTest, EveryFileThatCouldNotBeWrittenIsWrittenOnceThereIsRoom) {
  testing_support::TraceCapture trace;
  const uint8_t onBattery = EVENT_ON_BATTERY;
  const uint8_t restored = EVENT_POWER_RESTORED;
  for (int f = 0; f < kAgentFileCount; ++f) {
    const auto file = static_cast<AgentFile>(f);
    const std::string name = services.FileName(file);
    SCOPED_TRACE(name);
    std::filesystem::create_directory(name);
    EXPECT_EQ(services.WriteAgentFile(file), -1);
    scp.eventLog.AddRecord(2000 + f, 1, &onBattery);  // a change after the failed write
    EXPECT_EQ(services.WriteUnwrittenFiles(), 1);
    EXPECT_EQ(services.WriteUnwrittenFiles(), 1);
    std::filesystem::remove(name);
    EXPECT_EQ(services.WriteUnwrittenFiles(), 0);
    const std::vector<uint8_t> retried = ReadFileBytes(name);
    ASSERT_EQ(services.WriteAgentFile(file), 1);
    EXPECT_EQ(retried, ReadFileBytes(name)) << "the file does not hold its block as it is now";
    EXPECT_TRUE(trace.Contains("Record file " + name + " written after a failed write"));
    // Written: nothing left to write again.
    std::filesystem::remove(name);
    EXPECT_EQ(services.WriteUnwrittenFiles(), 0);
    EXPECT_FALSE(std::filesystem::exists(name));
  }
  // One trace line for each failed write, none for the quiet passes after it.
  const std::string text = trace.Text();
  size_t failures = 0;
  for (size_t at = text.find("Failed in writing data"); at != std::string::npos;
       at = text.find("Failed in writing data", at + 1)) {
    ++failures;
  }
  EXPECT_EQ(failures, static_cast<size_t>(kAgentFileCount));

  // The event log's record added while the disk is full reaches the file on the next pass.
  std::filesystem::create_directory(kEventLogFileName);
  scp.eventLog.AddRecord(3000, 1, &restored);
  EXPECT_EQ(services.WriteEventLogFile(), -1);
  std::filesystem::remove(kEventLogFileName);
  EXPECT_EQ(services.WriteUnwrittenFiles(), 0);
  KT_SCP restarted;
  FakeServices reader(restarted);
  ASSERT_EQ(reader.ReadEventLogFile(), 1);
  EXPECT_EQ(Encode(restarted.eventLog), Encode(scp.eventLog));
}

TEST_F(DaemonTest, MissingAndEmptyFilesReadAsNothing) {
  EXPECT_EQ(services.ReadSchedShutdownFile(), 0);
  EXPECT_FALSE(platform::RecordFile::Exists(kSchedShutdownFileName));  // reading creates nothing
  WriteFileBytes(kNotifyFileName, {});
  EXPECT_EQ(services.ReadNotifyFile(), 0);
}

TEST_F(DaemonTest, DamagedFileKeepsBlockAndOtherFiles) {
  scp.batteryInfo.AddOutageCount(7);
  ASSERT_EQ(services.WriteBatteryInfoFile(), 1);
  ASSERT_EQ(services.WriteLoadBankFile(), 1);
  const auto good = Encode(scp.batteryInfo);

  // A notification file cut short in the middle of its action list.
  scp.notify.SetDefaultActions();
  ASSERT_EQ(services.WriteNotifyFile(), 1);
  auto bytes = ReadFileBytes(kNotifyFileName);
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(kNotifyFileName, bytes);

  KT_SCP other;
  FakeServices reader(other);
  const auto before = Encode(other.notify);
  EXPECT_EQ(reader.ReadNotifyFile(), -1);
  EXPECT_EQ(Encode(other.notify), before);  // defaults kept, nothing half-read
  EXPECT_EQ(reader.errorClass, ERR_DATA_FILES);
  EXPECT_EQ(reader.function, 9);
  EXPECT_EQ(ReadFileBytes(std::string(kNotifyFileName) + ".bad"), bytes);
  ASSERT_FALSE(syslog.empty());
  EXPECT_NE(syslog.back().find("notify.dat"), std::string::npos);

  EXPECT_EQ(reader.ReadBatteryInfoFile(), 1);
  EXPECT_EQ(Encode(other.batteryInfo), good);
  EXPECT_EQ(reader.ReadLoadBankFile(), 1);
}

// A file that cannot be read is said once and kept as NAME.bad before anything is written
// under its name; while a directory in the way keeps it from being moved there, nothing is.
TEST_F(DaemonTest, UnreadableFileIsNotWrittenOverUntilItIsKept) {
  WriteFileBytes(kConfigFileName, {202, 1, 2});
  ASSERT_EQ(::truncate(kConfigFileName, kMaxRecordFileBytes + 1), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(kConfigFileName);
  std::filesystem::create_directory("config.dat.bad");
  EXPECT_EQ(services.ReadConfigFile(), -1);
  EXPECT_EQ(services.ReadConfigFile(), -1);
  ASSERT_EQ(syslog.size(), 1u);
  EXPECT_NE(syslog[0].find("larger than a record file can be"), std::string::npos) << syslog[0];
  EXPECT_EQ(services.WriteConfigFile(), -1);
  EXPECT_NE(services.WriteFailure(FILE_CONFIG).find("cannot be kept as config.dat.bad"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(kConfigFileName), bytes);
  std::filesystem::remove("config.dat.bad");
  EXPECT_EQ(services.WriteUnwrittenFiles(), 0);
  EXPECT_EQ(ReadFileBytes("config.dat.bad"), bytes);
  EXPECT_EQ(ReadFileBytes(kConfigFileName)[0], kConfigFormatMarker);
}

TEST_F(DaemonTest, GarbageConfigFileIsRefusedWithoutChangingTheBlock) {
  WriteFileBytes(kConfigFileName, {202, 0xFF, 'x'});
  scp.config.SetCommMode(COMM_IDLE);
  EXPECT_EQ(services.ReadConfigFile(), -1);
  EXPECT_EQ(scp.config.GetCommMode(), COMM_IDLE);
  EXPECT_FALSE(scp.config.IsFileConversion());
  // A marker alone has no data.
  WriteFileBytes(kConfigFileName, {202});
  EXPECT_EQ(services.ReadConfigFile(), -1);
  EXPECT_EQ(services.code, 1);
  EXPECT_EQ(services.function, 3);
}

TEST_F(DaemonTest, EventLogKeepsTheNewestRecordsUpToTheConfiguredSize) {
  for (uint32_t i = 0; i < 103; ++i) {
    const uint8_t e = EVENT_ON_BATTERY;
    scp.eventLog.AddRecord(5000 + i, 1, &e);
  }
  ASSERT_EQ(scp.config.GetEventLogSize(), 100);
  ASSERT_EQ(services.WriteEventLogFile(), 1);
  KT_SCP other;
  FakeServices reader(other);
  ASSERT_EQ(reader.ReadEventLogFile(), 1);
  ASSERT_EQ(other.eventLog.GetRecordCount(), 100);
  EXPECT_EQ(other.eventLog.Records().front().time, 5003u);
  EXPECT_EQ(other.eventLog.Records().back().time, 5102u);
}

// A configured log name is used only when the agent may keep that log under it; any other
// falls back to the default name, for the reason LogNameRefusal gives.
TEST_F(DaemonTest, ConfiguredLogNamesTheAgentWillNotUseFallBackToTheDefault) {
  const uint8_t aLog[] = {0, 1, 0, 1, 0, 0, 0, 9, 1, EVENT_ON_BATTERY};
  auto file = [](std::vector<uint8_t> bytes, mode_t mode = 0644) {
    return [bytes, mode](const char* name) {
      WriteFileBytes(name, bytes);
      ::chmod(name, mode);
    };
  };
  const std::vector<uint8_t> log(std::begin(aLog), std::end(aLog));
  std::vector<uint8_t> unknownEvent = log;
  unknownEvent.back() = kLastEventId + 1;
  std::vector<uint8_t> tail = log;
  tail.push_back(0);
  const struct {
    const char* name;
    std::function<void(const char*)> plant;
    const char* reason;  // empty: used as given
  } kCases[] = {
      {"events.dat", nullptr, ""},
      {"empty.log", file({}), ""},
      {"old.log", file(log), ""},
      {"a/b", nullptr, "is not a plain file name of the data directory"},
      {"NOTIFY.DAT", nullptr, "is the name of another of the agent's files"},
      {"Battlog.dat", nullptr, "is the name of the battery log"},
      {"mybatt.log", nullptr, "is the name of the battery log"},
      {"link.log", [](const char* n) { std::filesystem::create_symlink("old.log", n); },
       "is a symbolic link"},
      {"run.log", file(log, 0750), "is an executable file"},
      {"text.log", file({'h', 'i', '\n'}), "does not read as an event log"},
      {"odd.log", file(unknownEvent), "does not read as an event log"},
      {"tail.log", file(tail), "does not read as an event log"},
  };
  scp.config.SetBatteryLogFileName("mybatt.log");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.plant) c.plant(c.name);
    scp.config.SetEventLogFileName(c.name);
    EXPECT_EQ(services.LogNameRefusal(FILE_EVENT_LOG, c.name, "mybatt.log"), c.reason);
    EXPECT_EQ(services.FileName(FILE_EVENT_LOG), *c.reason ? kEventLogFileName : c.name);
  }
  // A battery log reads as one with any result code, and its name may not be the event log's.
  EXPECT_EQ(services.LogNameRefusal(FILE_BATTERY_LOG, "odd.log", "events.dat"), "");
  EXPECT_EQ(services.LogNameRefusal(FILE_BATTERY_LOG, "logfile.dat", "events.dat"),
            "is the name of the event log");
  EXPECT_EQ(services.LogNameRefusal(FILE_BATTERY_LOG, "text.log", "events.dat"),
            "does not read as a battery log");
  // The fallback is written, and nothing beside the data directory.
  scp.config.SetBatteryLogFileName("../../battlog");
  ASSERT_EQ(services.WriteBatteryLogFile(), 1);
  EXPECT_TRUE(platform::RecordFile::Exists(kBatteryLogFileName));
}

// The record files are never read or written through a symbolic link.
TEST_F(DaemonTest, RecordFilesAreNotFollowedThroughLinks) {
  WriteFileBytes("elsewhere", {202, 1, 2});
  std::filesystem::create_symlink("elsewhere", kConfigFileName);
  EXPECT_EQ(services.ReadConfigFile(), 0);
  EXPECT_EQ(services.WriteConfigFile(), -1);
  EXPECT_EQ(ReadFileBytes("elsewhere"), (std::vector<uint8_t>{202, 1, 2}));
  EXPECT_TRUE(std::filesystem::is_symlink(kConfigFileName));
}

TEST_F(DaemonTest, WriteFileRefusesAnEmptyBuffer) {
  EXPECT_EQ(services.WriteFile({}, "x.dat"), -1);
  EXPECT_EQ(services.function, 1);
  EXPECT_EQ(services.code, 3);
  EXPECT_FALSE(platform::RecordFile::Exists("x.dat"));
}

TEST_F(DaemonTest, ExitWritesEveryFileAndMarksTheAgentGone) {
  scp.config.SetCommMode(COMM_SERIAL_NORMAL);
  EXPECT_EQ(services.ExitDaemon(1), 1);
  EXPECT_EQ(scp.upsStatus.IsAlarmSet(ALARM_AGENT_STOPPED), 1);
  EXPECT_EQ(scp.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 1);
  EXPECT_EQ(services.paused_ms.load(), 1000);
  for (const char* name : {kConfigFileName, kEventLogFileName, kSchedShutdownFileName, kBatteryTestFileName,
                           kBatteryLogFileName, kLoadBankFileName, kNotifyFileName, kBatteryInfoFileName}) {
    EXPECT_TRUE(platform::RecordFile::Exists(name)) << name;
  }
}

TEST_F(DaemonTest, ExitInIdleModeLeavesNotifyFileAlone) {
  scp.config.SetCommMode(COMM_IDLE);
  services.ExitDaemon(1);
  EXPECT_FALSE(platform::RecordFile::Exists(kNotifyFileName));
  EXPECT_TRUE(platform::RecordFile::Exists(kBatteryInfoFileName));
}

TEST_F(DaemonTest, StopRequestOnlyTurnsRunningIntoStop) {
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadEnded);
  services.RequestStopSerial();
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadEnded);
  services.State(THREAD_SERIAL) = kThreadRunning;
  services.RequestStopSerial();
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadStopRequested);
  EXPECT_TRUE(services.IsRunning());
  services.ClearRunFlag();
  EXPECT_FALSE(services.IsRunning());
}

TEST_F(DaemonTest, EraseErrorFileEmptiesTheLog) {
  AppendErrorLog(1, 2, 3, 4);
  ASSERT_GT(FileSize(kErrorLogName), 0);
  EXPECT_EQ(services.EraseErrorFile(), 1);
  EXPECT_EQ(FileSize(kErrorLogName), 0);
}

}  // namespace
