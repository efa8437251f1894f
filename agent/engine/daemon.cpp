#include "agent/engine/daemon.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "core/base/ktdiag.h"
#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "platform/service_settings.h"
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
  platform::FileResult result;
  return WriteFile(buffer, name, true, result);
}

int KT_Daemon::WriteFile(const std::vector<uint8_t>& buffer, const char* name, bool report,
                         platform::FileResult& r) {
  if (buffer.empty()) {
    r = {platform::FileStatus::kWriteFailed, ENODATA};
    if (report) LogError(ERR_DATA_FILES, kFnWriteFile, 3, 0);
    return -1;
  }
  r = platform::RecordFile::Replace(name, buffer, platform::RecordFile::Links::kRefuse);
  if (r) return 1;
  if (!report) return -1;
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
  platform::FileResult result;
  return ReadFile(out, name, result);
}

int KT_Daemon::ReadFile(std::vector<uint8_t>& out, const char* name, platform::FileResult& r) {
  out.clear();
  r = platform::RecordFile::Read(name, out, platform::RecordFile::Open::kExisting, kMaxRecordFileBytes,
                                 platform::RecordFile::Links::kRefuse);
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

namespace {

// What stands under a record file's name when it is not a regular file ("it is a directory",
// ...); empty for a regular file or nothing.
std::string NotAFile(const std::string& name) {
  struct stat st{};
  if (::lstat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link, which the agent does not follow";
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO";
  if (S_ISSOCK(st.st_mode)) return "it is a socket";
  return "it is a device";
}

// Moves the regular file `name` aside as `name`.bad (an older copy goes). 0, or the errno of
// the failure (EINVAL when something else than a regular file stands under the name).
int MoveAside(const std::string& name) {
  struct stat st{};
  if (::lstat(name.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  return ::rename(name.c_str(), (name + ".bad").c_str()) == 0 ? 0 : errno;
}

// Why a file operation failed, with the system's reason.
std::string Why(const platform::FileResult& r) {
  std::string text = platform::FileStatusText(r.status);
  if (r.sysError != 0) text += std::string(": ") + std::strerror(r.sysError);
  return text;
}

}  // namespace

std::string KT_Daemon::FileName(AgentFile file) {
  if (file != FILE_EVENT_LOG && file != FILE_BATTERY_LOG) return kFiles[file].defaultName;
  std::optional<std::string> configured;
  std::optional<std::string> other;
  {
    auto lock = scp_.Lock();
    configured = scp_.config.GetEventLogFileName();
    other = scp_.config.GetBatteryLogFileName();
    if (file == FILE_BATTERY_LOG) std::swap(configured, other);
  }
  const char* fallback = kFiles[file].defaultName;
  if (!configured || configured->empty() || *configured == fallback) return fallback;
  const std::string why = LogNameRefusal(file, configured, other);
  if (!why.empty()) {
    Diag() << "Log file name \"" << platform::PrintableText(*configured, false) << "\" " << why << ", using "
           << fallback << kendl;
    return fallback;
  }
  return *configured;
}

namespace {

// True when `path` names the file `name` of the working directory (the data directory),
// whether or not that file exists.
bool IsDataDirectoryFile(const std::string& path, const std::string& name) {
  if (path.empty()) return false;
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base != name) return false;
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat there{};
  struct stat here{};
  return ::stat(dir.c_str(), &there) == 0 && ::stat(".", &here) == 0 && there.st_dev == here.st_dev &&
         there.st_ino == here.st_ino;
}

// The running program's own file.
std::string ProgramPath() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).string();
}

// True when the bytes are exactly a log file as the agent writes one: the record count twice,
// then that many records of a time and one data byte (an event number for the event log),
// and nothing after them. An empty file is an empty log.
bool ReadsAsLog(AgentFile log, const std::vector<uint8_t>& data) {
  if (data.empty()) return true;
  platform::ByteReader in(data);
  uint16_t listed = 0;
  uint16_t count = 0;
  if (!in.GetU16BE(listed) || !in.GetU16BE(count) || listed != count) return false;
  for (int i = 0; i < count; ++i) {
    uint32_t time = 0;
    uint8_t length = 0;
    uint8_t value = 0;
    if (!in.GetU32BE(time) || !in.GetU8(length) || length != 1 || !in.GetU8(value)) return false;
    if (log == FILE_EVENT_LOG && value > kLastEventId) return false;
  }
  return in.AtEnd();
}

}  // namespace

std::string KT_Daemon::LogNameRefusal(AgentFile log, const std::optional<std::string>& name,
                                      const std::optional<std::string>& otherName) {
  const bool event = log == FILE_EVENT_LOG;
  if (!name || !IsAllowedLogFileName(*name)) {
    return name && IsReservedAgentFileName(*name) ? "is the name of another of the agent's files"
                                                  : "is not a plain file name of the data directory";
  }
  const char* otherDefault = event ? kBatteryLogFileName : kEventLogFileName;
  if (::strcasecmp(name->c_str(), otherDefault) == 0 ||
      (otherName && ::strcasecmp(name->c_str(), otherName->c_str()) == 0)) {
    return event ? "is the name of the battery log" : "is the name of the event log";
  }
  if (IsDataDirectoryFile(platform::ServiceSettingsPath(), *name) ||
      IsDataDirectoryFile(platform::GetServiceSettings().traceFile, *name) ||
      IsDataDirectoryFile(ProgramPath(), *name)) {
    return "is the name of another of the agent's files";
  }

  struct stat st{};
  if (::lstat(name->c_str(), &st) != 0) {
    if (errno == ENOENT) return {};  // a new file
    return std::string("cannot be examined (") + std::strerror(errno) + ")";
  }
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if ((st.st_mode & 0111) != 0) return "is an executable file";
  std::vector<uint8_t> data;
  const platform::FileResult r =
      platform::RecordFile::Read(*name, data, platform::RecordFile::Open::kExisting, kMaxRecordFileBytes,
                                 platform::RecordFile::Links::kRefuse);
  if (!r) return std::string("cannot be read (") + platform::FileStatusText(r.status) + ")";
  if (!ReadsAsLog(log, data))
    return event ? "does not read as an event log" : "does not read as a battery log";
  return {};
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

int KT_Daemon::WriteBlockFile(AgentFile file, bool retry) {
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
      if (converted >= 0) converted = block->ConvertFileTrailer(CONVERT_ENCODE, &writer, nullptr);
    }
  }
  if (converted < 0) {
    Diag() << (file == FILE_LOAD_BANK ? "Failed in load bank file conversion\n" : "Failed in logfile conversion\n");
    write_failure_[file] = "its block cannot be encoded";
    return -1;
  }
  const uint32_t bit = 1u << file;
  if ((unkept_ & bit) != 0) {
    // The file that could not be read is moved aside first; gone by now (or no file any more,
    // which the write refuses) is as good.
    const int error = MoveAside(name);
    if (error == 0 || error == ENOENT || error == EINVAL) {
      unkept_ &= ~bit;
      if (error == 0) Diag() << "Record file " << name << " kept as " << name << ".bad" << kendl;
    } else {
      write_failure_[file] =
          "the file that could not be read cannot be kept as " + name + ".bad (" + std::strerror(error) + ")";
    }
  }
  platform::FileResult r;
  if ((unkept_ & bit) != 0 || WriteFile(writer.Take(), name.c_str(), !retry, r) < 0) {
    if ((unkept_ & bit) == 0) {
      write_failure_[file] = r.status == platform::FileStatus::kNotUsable ? NotAFile(name) : std::string();
      if (write_failure_[file].empty()) write_failure_[file] = Why(r);
    }
    // Written again on the agent's next passes (WriteUnwrittenFiles), once there is room.
    unwritten_.fetch_or(bit);
    if (!retry) Diag() << "Failed in writing data\n";
    return -1;
  }
  write_failure_[file].clear();
  if ((unwritten_.fetch_and(~bit) & bit) != 0) Diag() << "Record file " << name << " written after a failed write\n";
  return 1;
}

std::string KT_Daemon::WriteFailure(AgentFile file) {
  auto lock = scp_.Lock();
  return write_failure_[file];
}

int KT_Daemon::WriteUnwrittenFiles() {
  int left = 0;
  for (int f = 0; f < kAgentFileCount; ++f) {
    if ((unwritten_.load() & (1u << f)) == 0) continue;
    if (WriteBlockFile(static_cast<AgentFile>(f), true) < 0) ++left;
  }
  return left;
}

int KT_Daemon::ReadBlockFile(AgentFile file) {
  const AgentFileEntry& entry = kFiles[file];
  const std::string name = FileName(file);
  if (file == FILE_EVENT_LOG) Diag() << "Reading from Logfile Name = " << name << kendl;
  if (file == FILE_BATTERY_LOG) Diag() << "Name = " << name << kendl;
  // Under the lock from the read on: no write of the file comes between what was read and
  // what is done about it.
  auto lock = scp_.Lock();
  std::vector<uint8_t> data;
  platform::FileResult read;
  const int r = ReadFile(data, name.c_str(), read);
  if (read.status != platform::FileStatus::kOk && read.status != platform::FileStatus::kMissing) {
    if (const std::string what = NotAFile(name); !what.empty()) {
      ReportReadProblem(file, "Record file " + name + " cannot be read: " + what +
                                  "; nothing is read from it or written in its place, its block keeps its "
                                  "previous contents");
      return r;
    }
    KeepUnreadableFile(
        file, name,
        read.status == platform::FileStatus::kTooLarge
            ? "is larger than a record file can be (" + std::to_string(kMaxRecordFileBytes) + " bytes)"
            : "cannot be read (" + Why(read) + ")");
    return -1;
  }
  if (r < 1) {
    read_problem_[file].clear();
    return r;
  }

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
  const KT_SCPBase::BlockRestore restore = scp_.SnapshotBlock(entry.blockId);
  bool ok;
  {
    KT_RecordReader reader(data.data() + offset, data.size() - offset);
    if (file == FILE_CONFIG) {
      ConfigFileScope scope(scp_.config, version);
      ok = scp_.config.ConvertFile(CONVERT_DECODE, nullptr, &reader) >= 0;
    } else {
      ok = block->ConvertBlock(CONVERT_DECODE, nullptr, &reader) >= 0 &&
           block->ConvertFileTrailer(CONVERT_DECODE, nullptr, &reader) >= 0;
    }
  }
  if (!ok) {
    if (restore) restore();
    LogError(ERR_DATA_FILES, entry.readFunction, kCodeCannotDecode, 0);
    KeepUnreadableFile(file, name, "is damaged (its data cannot be decoded)");
    return -1;
  }
  read_problem_[file].clear();
  if (file == FILE_CONFIG) {
    for (int b = 1; b <= ConfigBlock::kLastBranch; ++b) scp_.config.Branches().Touch(b);
  }
  return 1;
}

void KT_Daemon::KeepUnreadableFile(AgentFile file, const std::string& name, const std::string& what) {
  const std::string bad = name + ".bad";
  const uint32_t bit = 1u << file;
  // Moved, not copied: nothing to read again, no room needed, and the bytes stay as they were.
  const int error = MoveAside(name);
  if (error == 0) {
    unkept_ &= ~bit;
    ReportReadProblem(file, "Record file " + name + " " + what + "; kept as " + bad +
                                ", its block keeps its previous contents");
    return;
  }
  unkept_ |= bit;
  ReportReadProblem(file, "Record file " + name + " " + what + "; it cannot be kept as " + bad + " (" +
                              std::strerror(error) + "), so nothing is written in its place until it can be");
}

void KT_Daemon::ReportReadProblem(AgentFile file, const std::string& text) {
  if (read_problem_[file] == text) return;
  read_problem_[file] = text;
  ReportFileProblem(text);
}

void KT_Daemon::ReportFileProblem(const std::string& text) {
  Diag() << text << kendl;
  platform::WriteSystemLog("VigilNT", platform::LogEntryType::kWarning, {text});
}

int KT_Daemon::RemoveLeftoverTemporaries() {
  std::set<std::string> names;
  for (const AgentFileEntry& f : kFiles) names.insert(f.defaultName);
  names.insert(FileName(FILE_EVENT_LOG));
  names.insert(FileName(FILE_BATTERY_LOG));
  std::vector<std::string> removed;
  for (const std::string& name : names) {
    platform::RecordFile::RemoveLeftovers(name, removed);
    platform::RecordFile::RemoveLeftovers(name + ".bad", removed);
  }
  for (const std::string& name : removed) Diag() << "Removed " << name << ", left by an interrupted write\n";
  return static_cast<int>(removed.size());
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
  std::string unwritten;
  for (int f = 0; f < kAgentFileCount; ++f) {
    if (f == FILE_NOTIFY && mode == COMM_IDLE) continue;
    const auto file = static_cast<AgentFile>(f);
    if (WriteBlockFile(file) < 0) {
      unwritten += (unwritten.empty() ? "" : ", ") + FileName(file) + " (" + WriteFailure(file) + ")";
    }
  }
  unwritten_at_stop_.store(!unwritten.empty());
  if (unwritten.empty()) return 1;
  const std::string text = "Record files not written at the stop: " + unwritten +
                           "; what changed in them since they were last written is lost";
  Diag() << text << kendl;
  platform::WriteSystemLog("VigilNT", platform::LogEntryType::kError, {text});
  return -1;
}
