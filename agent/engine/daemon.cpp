#include "agent/engine/daemon.h"

#include <cstring>
#include <set>
#include <thread>

#include "core/base/ktdiag.h"
#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "platform/system_log.h"

namespace {

constexpr int32_t kFnWriteFile = 1;
constexpr int32_t kFnReadFile = 2;
constexpr int32_t kCodeNoData = 1;
constexpr int32_t kCodeCannotDecode = 2;

struct AgentFileEntry {
  int blockId;
  const char* defaultName;
  int32_t readFunction;
};

const AgentFileEntry kFiles[kAgentFileCount] = {
    {BLOCK_CONFIG, kConfigFileName, 3},
    {BLOCK_EVENT_LOG, kEventLogFileName, 4},
    {BLOCK_SCHED_SHUTDOWN, kSchedShutdownFileName, 5},
    {BLOCK_BATTERY_TEST, kBatteryTestFileName, 7},
    {BLOCK_BATTERY_LOG, kBatteryLogFileName, 8},
    {BLOCK_RECEPTACLES, kLoadBankFileName, 6},
    {BLOCK_NOTIFY, kNotifyFileName, 9},
    {BLOCK_BATTERY_INFO, kBatteryInfoFileName, 10},
};

// Puts the config block into file-conversion mode for one conversion of config.dat (in the
// file's form, ConfigBlock::ConvertFile).
class ConfigFileScope {
 public:
  ConfigFileScope(ConfigBlock& block, int version) : block_(block) {
    block_.SetFileConversion(true);
    block_.SetFormatSelector(version);
  }
  ~ConfigFileScope() {
    block_.SetFileConversion(false);
    block_.SetFormatSelector(2);
  }

 private:
  ConfigBlock& block_;
};

// The whole block in record form; false when it cannot be encoded.
bool EncodeBlock(KT_Block& block, std::vector<uint8_t>& out) {
  KT_RecordWriter writer;
  if (block.ConvertBlock(CONVERT_ENCODE, &writer, nullptr) < 0) return false;
  out = writer.Take();
  return true;
}

bool DecodeBlock(KT_Block& block, const uint8_t* data, size_t size) {
  KT_RecordReader reader(data, size);
  return block.ConvertBlock(CONVERT_DECODE, nullptr, &reader) >= 0;
}

// The configuration block in config.dat's form of a format (ConfigFileScope).
bool EncodeConfig(ConfigBlock& config, int version, std::vector<uint8_t>& out) {
  ConfigFileScope scope(config, version);
  KT_RecordWriter writer;
  if (config.ConvertFile(CONVERT_ENCODE, &writer, nullptr) < 0) return false;
  out = writer.Take();
  return true;
}

bool DecodeConfig(ConfigBlock& config, int version, const uint8_t* data, size_t size) {
  ConfigFileScope scope(config, version);
  KT_RecordReader reader(data, size);
  return config.ConvertFile(CONVERT_DECODE, nullptr, &reader) >= 0;
}

}  // namespace

KT_Daemon::KT_Daemon(KT_SCP& scp) : scp_(scp) {
  for (auto& s : states_) s.store(kThreadEnded);
}

KT_Daemon::~KT_Daemon() = default;

void KT_Daemon::Pause(int ms) {
  if (pause_hook_) {
    pause_hook_(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void KT_Daemon::RequestStop(AgentThreadId thread) {
  int32_t expected = kThreadRunning;
  states_[thread].compare_exchange_strong(expected, kThreadStopRequested);
}

int KT_Daemon::WriteFile(const std::vector<uint8_t>& buffer, const char* name) {
  if (buffer.empty()) {
    LogError(ERR_DATA_FILES, kFnWriteFile, 3, 0);
    return -1;
  }
  const platform::FileResult r = platform::RecordFile::Replace(name, buffer);
  if (r) return 1;
  int code = 4;
  switch (r.status) {
    case platform::FileStatus::kOpenFailed:
    case platform::FileStatus::kNotUsable:
      code = 1;
      break;
    case platform::FileStatus::kFlushFailed:
    case platform::FileStatus::kReplaceFailed:
      code = 5;
      break;
    default:
      break;
  }
  LogError(ERR_DATA_FILES, kFnWriteFile, code, r.sysError);
  return -1;
}

int KT_Daemon::ReadFile(std::vector<uint8_t>& out, const char* name) {
  out.clear();
  const platform::FileResult r =
      platform::RecordFile::Read(name, out, platform::RecordFile::Open::kExisting, kMaxRecordFileBytes);
  if (r.status == platform::FileStatus::kMissing) return 0;
  if (r.status == platform::FileStatus::kTooLarge) {
    LogError(ERR_DATA_FILES, kFnReadFile, 3, 0);
    return -1;
  }
  if (!r) {
    LogError(ERR_DATA_FILES, kFnReadFile, 1, r.sysError);
    return 0;
  }
  return out.empty() ? 0 : 1;
}

std::string KT_Daemon::FileName(AgentFile file) {
  if (file != FILE_EVENT_LOG && file != FILE_BATTERY_LOG) return kFiles[file].defaultName;
  std::optional<std::string> configured;
  {
    auto lock = scp_.Lock();
    configured = file == FILE_EVENT_LOG ? scp_.config.GetEventLogFileName() : scp_.config.GetBatteryLogFileName();
  }
  if (!configured || configured->empty()) return kFiles[file].defaultName;
  if (!IsAllowedLogFileName(*configured)) {
    Diag() << "Log file name \"" << *configured << "\" is not a file of the data directory, using "
           << kFiles[file].defaultName << kendl;
    return kFiles[file].defaultName;
  }
  return *configured;
}

bool KT_Daemon::FileOfBlock(int blockId, AgentFile& file) {
  for (int f = 0; f < kAgentFileCount; ++f) {
    if (kFiles[f].blockId == blockId) {
      file = static_cast<AgentFile>(f);
      return true;
    }
  }
  return false;
}

int KT_Daemon::WriteBlockFile(AgentFile file) {
  const AgentFileEntry& entry = kFiles[file];
  const std::string name = FileName(file);
  auto lock = scp_.Lock();
  KT_Block* block = scp_.GetBlock(entry.blockId);
  KT_RecordWriter writer;
  int converted = -1;
  if (block) {
    if (file == FILE_CONFIG) {
      writer.Put8(kConfigFormatMarker);
      ConfigFileScope scope(scp_.config, kConfigFileFormat);
      converted = scp_.config.ConvertFile(CONVERT_ENCODE, &writer, nullptr);
    } else {
      if (file == FILE_EVENT_LOG || file == FILE_BATTERY_LOG) {
        LogBlock& log = file == FILE_EVENT_LOG ? static_cast<LogBlock&>(scp_.eventLog) : scp_.batteryLog;
        const int limit = file == FILE_EVENT_LOG ? scp_.config.GetEventLogSize() : scp_.config.GetBatteryLogSize();
        if (log.GetRecordCount() > limit) log.RemoveFirst(log.GetRecordCount() - limit);
      }
      converted = block->ConvertBlock(CONVERT_ENCODE, &writer, nullptr);
    }
  }
  if (converted < 0) {
    Diag() << (file == FILE_LOAD_BANK ? "Failed in load bank file conversion\n" : "Failed in logfile conversion\n");
    return -1;
  }
  if (WriteFile(writer.Take(), name.c_str()) < 0) {
    Diag() << "Failed in writing data\n";
    return -1;
  }
  return 1;
}

int KT_Daemon::ReadBlockFile(AgentFile file) {
  const AgentFileEntry& entry = kFiles[file];
  const std::string name = FileName(file);
  if (file == FILE_EVENT_LOG) Diag() << "Reading from Logfile Name = " << name << kendl;
  if (file == FILE_BATTERY_LOG) Diag() << "Name = " << name << kendl;
  std::vector<uint8_t> data;
  const int r = ReadFile(data, name.c_str());
  if (r < 1) return r;

  auto lock = scp_.Lock();
  KT_Block* block = scp_.GetBlock(entry.blockId);
  if (block == nullptr) return -1;
  size_t offset = 0;
  int version = 2;
  if (file == FILE_CONFIG && data[0] > kConfigFormatBase) {
    version = data[0] - kConfigFormatBase;
    offset = 1;
  }
  if (offset >= data.size()) {
    LogError(ERR_DATA_FILES, entry.readFunction, kCodeNoData, 0);
    return -1;
  }
  if (file == FILE_CONFIG && offset == 0) version = 0;

  // The block as it is now, to put back when the file cannot be decoded.
  std::vector<uint8_t> before;
  bool ok;
  bool saved;
  if (file == FILE_CONFIG) {
    saved = EncodeConfig(scp_.config, kConfigFileFormat, before);
    ok = DecodeConfig(scp_.config, version, data.data() + offset, data.size() - offset);
  } else {
    saved = EncodeBlock(*block, before);
    ok = DecodeBlock(*block, data.data() + offset, data.size() - offset);
  }
  if (!ok) {
    if (saved) {
      if (file == FILE_CONFIG) {
        DecodeConfig(scp_.config, kConfigFileFormat, before.data(), before.size());
      } else {
        DecodeBlock(*block, before.data(), before.size());
      }
    }
    LogError(ERR_DATA_FILES, entry.readFunction, kCodeCannotDecode, 0);
    platform::RecordFile::Replace(name + ".bad", data);
    ReportDamagedFile(name, "its data cannot be decoded");
    return -1;
  }
  if (file == FILE_CONFIG) {
    for (int b = 1; b <= ConfigBlock::kLastBranch; ++b) scp_.config.Branches().Touch(b);
  }
  return 1;
}

void KT_Daemon::ReportDamagedFile(const std::string& name, const char* why) {
  const std::string text = "Record file " + name + " is damaged (" + why + "); kept as " + name +
                           ".bad, its block keeps its previous contents";
  Diag() << text << kendl;
  platform::WriteSystemLog("VigilNT", platform::LogEntryType::kWarning, {text});
}

int KT_Daemon::WriteAgentFile(AgentFile file) { return WriteBlockFile(file); }
int KT_Daemon::ReadAgentFile(AgentFile file) { return ReadBlockFile(file); }

int KT_Daemon::WriteConfigFile() { return WriteBlockFile(FILE_CONFIG); }
int KT_Daemon::ReadConfigFile() { return ReadBlockFile(FILE_CONFIG); }
int KT_Daemon::WriteEventLogFile() { return WriteBlockFile(FILE_EVENT_LOG); }
int KT_Daemon::ReadEventLogFile() { return ReadBlockFile(FILE_EVENT_LOG); }
int KT_Daemon::WriteSchedShutdownFile() { return WriteBlockFile(FILE_SCHED_SHUTDOWN); }
int KT_Daemon::ReadSchedShutdownFile() { return ReadBlockFile(FILE_SCHED_SHUTDOWN); }
int KT_Daemon::WriteLoadBankFile() { return WriteBlockFile(FILE_LOAD_BANK); }
int KT_Daemon::ReadLoadBankFile() { return ReadBlockFile(FILE_LOAD_BANK); }
int KT_Daemon::WriteBatteryTestFile() { return WriteBlockFile(FILE_BATTERY_TEST); }
int KT_Daemon::ReadBatteryTestFile() { return ReadBlockFile(FILE_BATTERY_TEST); }
int KT_Daemon::WriteBatteryLogFile() { return WriteBlockFile(FILE_BATTERY_LOG); }
int KT_Daemon::ReadBatteryLogFile() { return ReadBlockFile(FILE_BATTERY_LOG); }
int KT_Daemon::WriteNotifyFile() { return WriteBlockFile(FILE_NOTIFY); }
int KT_Daemon::ReadNotifyFile() { return ReadBlockFile(FILE_NOTIFY); }
int KT_Daemon::WriteBatteryInfoFile() { return WriteBlockFile(FILE_BATTERY_INFO); }
int KT_Daemon::ReadBatteryInfoFile() { return ReadBlockFile(FILE_BATTERY_INFO); }

int KT_Daemon::EraseErrorFile() {
  const platform::FileResult r = platform::RecordFile::Truncate(kErrorLogName);
  return r ? 1 : 0;
}

int KT_Daemon::ExitDaemon(int /*quick*/) {
  {
    auto lock = scp_.Lock();
    scp_.upsStatus.SetAlarm(ALARM_AGENT_STOPPED);
    scp_.upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
  }
  Pause(1000);
  Diag() << "Tremona daemon is exiting normally\n";
  int mode;
  {
    auto lock = scp_.Lock();
    mode = scp_.config.GetCommMode();
  }
  int result = 0;
  for (int f = 0; f < kAgentFileCount; ++f) {
    if (f == FILE_NOTIFY && mode == COMM_IDLE) continue;
    result = WriteBlockFile(static_cast<AgentFile>(f));
  }
  return result;
}
