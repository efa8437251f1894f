// KT_Daemon: the root of the agent's platform object. It owns the state words of the agent's
// worker threads and their stop requests, and the agent's record files: one binary file per
// persistent SCP block, each holding exactly the block's record form (the bytes a GET of the
// whole block carries), big-endian.
//
//   config.dat     block 4, after one format byte (200 + format: 203 = format 3, which adds
//                  the timing values of branch 12 after the block's other branches; 202 =
//                  format 2, as earlier versions wrote it; 200 or less: no marker, format 0,
//                  the whole file is block data)
//   logfile.dat    block 6 (or the event-log file name configured in block 4)
//   sch_shut.dat   block 24          loadbank.dat   block 28
//   batt_tst.dat   block 25          battlog.dat    block 7 (or the configured name)
//   notify.dat     block 5           bat_info.dat   block 26
//   error.dat      the error log, emptied at every start
//
// Files live in the working directory (the agent's data directory). Every write replaces the
// whole file atomically (platform::RecordFile::Replace): a crash leaves the old or the new
// file, never a mix, and the start removes the temporary files such a crash left. A write
// that fails (a full or read-only disk) leaves the old file, and the file is written again
// from its block on the agent's next passes until it succeeds. A symbolic link, directory,
// FIFO or other special file under a record file's name is never followed, read or written
// over: the trace and the system log say so when it is read, and each write it refuses says
// why. A regular file that cannot be read (over kMaxRecordFileBytes, unreadable) or decoded
// leaves its block as it was before the read (its defaults at start), is reported to the
// trace and the system log, and is moved aside as "<name>.bad" before anything is written
// under its name; while it cannot be moved, nothing is. The other files are not affected.
//
// Error records: class 22; WriteFile function 1 (1 cannot open, 3 empty buffer, 4 write
// failed, 5 flush failed), ReadFile function 2 (1 not usable, 3 too large), the readers
// functions 3 config, 4 event log, 5 schedule, 6 load bank, 7 battery test, 8 battery log,
// 9 notification, 10 battery information (1 no data, 2 cannot be decoded).
//
// Thread state words: 255 not running (initial, and the last thing a thread writes), 1
// running (written by the starter), 0 stop requested (written by a stop request, only over
// 1). The agent run flag starts at 1 and becomes 0 when the agent has stopped.
//
// Locking: the files are encoded and decoded under the SCP object's lock, which also keeps
// two writers of one file from overlapping.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/base/error_status.h"
#include "core/scp/config_block.h"
#include "platform/record_file.h"

class KT_SCP;

enum AgentThreadId : int {
  THREAD_NETBCM = 0,
  THREAD_SERIAL = 1,
  THREAD_NETWORK = 2,
  THREAD_LOCAL = 3,
  THREAD_SNMP = 4,
};
inline constexpr int kAgentThreadCount = 5;

inline constexpr int32_t kThreadStopRequested = 0;
inline constexpr int32_t kThreadRunning = 1;
inline constexpr int32_t kThreadEnded = 255;

// The record files, in the order the exit step writes them.
enum AgentFile : int {
  FILE_CONFIG = 0,
  FILE_EVENT_LOG,
  FILE_SCHED_SHUTDOWN,
  FILE_BATTERY_TEST,
  FILE_BATTERY_LOG,
  FILE_LOAD_BANK,
  FILE_NOTIFY,
  FILE_BATTERY_INFO,
};
inline constexpr int kAgentFileCount = 8;

inline constexpr const char* kConfigFileName = "config.dat";
inline constexpr const char* kEventLogFileName = "logfile.dat";
inline constexpr const char* kSchedShutdownFileName = "sch_shut.dat";
inline constexpr const char* kLoadBankFileName = "loadbank.dat";
inline constexpr const char* kBatteryTestFileName = "batt_tst.dat";
inline constexpr const char* kBatteryLogFileName = "battlog.dat";
inline constexpr const char* kNotifyFileName = "notify.dat";
inline constexpr const char* kBatteryInfoFileName = "bat_info.dat";

// Format marker of config.dat: 200 + format version; the writer always writes format 3. An
// older agent reads such a file as format 2 and ignores the timing values at its end.
inline constexpr uint8_t kConfigFormatBase = 200;
inline constexpr uint8_t kConfigFileFormat = ConfigBlock::kFileTimingFormat;
inline constexpr uint8_t kConfigFormatMarker = kConfigFormatBase + kConfigFileFormat;

// Largest record file the agent reads.
inline constexpr size_t kMaxRecordFileBytes = 4u * 1024u * 1024u;

// Exit status of an agent program that stopped but could not write every record file at the
// stop (a full or read-only disk, something else under a file's name).
inline constexpr int kRecordFilesUnwrittenExitStatus = 2;

class KT_Daemon : public KT_ErrorStatus {
 public:
  explicit KT_Daemon(KT_SCP& scp);
  virtual ~KT_Daemon();
  KT_Daemon(const KT_Daemon&) = delete;
  KT_Daemon& operator=(const KT_Daemon&) = delete;

  // Whether another agent runs on this machine (the single-instance test).
  virtual int IsAlreadyRunning() = 0;
  // Sets alarms 10 (stopped by the user) and 16 (agent going away), waits 1 s, writes every
  // record file (notify.dat only outside mode 5). 1, or -1 when a file could not be written:
  // the trace and the system log name each such file and why, and RecordFilesUnwrittenAtStop
  // says so until the next stop.
  virtual int ExitDaemon(int quick);
  bool RecordFilesUnwrittenAtStop() const { return unwritten_at_stop_.load(); }

  // Whole-file primitives (see the head of this file for the error records). WriteFile: 1 or
  // -1. ReadFile: 1 with data; 0 when the file is missing, empty or not usable; -1 when it is
  // too large.
  int WriteFile(const std::vector<uint8_t>& buffer, const char* name);
  int ReadFile(std::vector<uint8_t>& out, const char* name);

  // One writer and one reader per file: 1 success, -1 failure; the readers 0 for a missing or
  // empty file.
  int WriteConfigFile();
  int ReadConfigFile();
  int WriteEventLogFile();
  int ReadEventLogFile();
  int WriteSchedShutdownFile();
  int ReadSchedShutdownFile();
  int WriteLoadBankFile();
  int ReadLoadBankFile();
  int WriteBatteryTestFile();
  int ReadBatteryTestFile();
  int WriteBatteryLogFile();
  int ReadBatteryLogFile();
  int WriteNotifyFile();
  int ReadNotifyFile();
  int WriteBatteryInfoFile();
  int ReadBatteryInfoFile();
  int WriteAgentFile(AgentFile file);
  int ReadAgentFile(AgentFile file);
  // Writes again every record file whose last write failed (a full or read-only disk), with
  // its block's contents now: a change that was made, a log record that was added, reaches its
  // file once there is room, without waiting for the next change. Quiet while a file still
  // cannot be written; the trace says when it was. The number of files still unwritten.
  int WriteUnwrittenFiles();
  // Why the file's last write failed ("No space left on device", "it is a directory", ...);
  // empty when it did not.
  std::string WriteFailure(AgentFile file);
  // Removes the temporary files that interrupted writes of the record files (and of their
  // ".bad" copies) left in the data directory, and traces their names. The number removed.
  int RemoveLeftoverTemporaries();
  // The name a file has now. The logs' names come from block 4; a configured name that
  // LogNameRefusal refuses gives the log's default name, and the trace says why.
  std::string FileName(AgentFile file);
  // Why the agent will not keep a log (FILE_EVENT_LOG or FILE_BATTERY_LOG) under `name` while
  // the other log is named `otherName`; empty when it will. Refused: anything but a plain file
  // name; a name of another of the agent's files (IsReservedAgentFileName, the other log's
  // name or default name, the settings file, the trace file, the running program); a name
  // whose file exists but is not a log of that kind (a symbolic link, a directory or other
  // special file, an executable, or a file that does not read exactly as such a log).
  std::string LogNameRefusal(AgentFile log, const std::optional<std::string>& name,
                             const std::optional<std::string>& otherName);
  // The record file that keeps a block; false for a block that has none.
  static bool FileOfBlock(int blockId, AgentFile& file);

  // Empties error.dat when it exists (the file stays).
  int EraseErrorFile();

  // Thread state words.
  std::atomic<int32_t>& State(AgentThreadId thread) { return states_[thread]; }
  int32_t GetState(AgentThreadId thread) const { return states_[thread].load(); }
  // 1 -> 0; any other value stays.
  void RequestStop(AgentThreadId thread);
  void RequestStopLocal() { RequestStop(THREAD_LOCAL); }
  void RequestStopSerial() { RequestStop(THREAD_SERIAL); }
  void RequestStopNetwork() { RequestStop(THREAD_NETWORK); }
  void RequestStopSNMP() { RequestStop(THREAD_SNMP); }
  void RequestStopNetBCM() { RequestStop(THREAD_NETBCM); }
  std::atomic<int32_t>& RunFlag() { return run_flag_; }
  void ClearRunFlag() { run_flag_.store(0); }
  bool IsRunning() const { return run_flag_.load() != 0; }

  KT_SCP& Scp() { return scp_; }

  // Waits ms milliseconds; tests replace the wait so that nothing sleeps.
  void Pause(int ms);
  void SetPauseHook(std::function<void(int)> hook) { pause_hook_ = std::move(hook); }

  // Says what is wrong with a record file (one that cannot be read or decoded, a write that
  // is refused). The default writes the text to the trace and the system log.
  virtual void ReportFileProblem(const std::string& text);

 private:
  // `retry`: a write of WriteUnwrittenFiles, which neither traces nor records a failure again.
  int WriteBlockFile(AgentFile file, bool retry = false);
  int ReadBlockFile(AgentFile file);
  int ReadFile(std::vector<uint8_t>& out, const char* name, platform::FileResult& result);
  int WriteFile(const std::vector<uint8_t>& buffer, const char* name, bool report,
                platform::FileResult& result);
  // Moves the file that could not be read aside as <name>.bad and reports it with `what` (the
  // trouble); when it cannot be moved, nothing is written under its name until it can be.
  void KeepUnreadableFile(AgentFile file, const std::string& name, const std::string& what);
  // Reports a trouble of reading the file, once until the file reads again.
  void ReportReadProblem(AgentFile file, const std::string& text);

  KT_SCP& scp_;
  std::atomic<int32_t> states_[kAgentThreadCount];
  std::atomic<int32_t> run_flag_{1};
  // One bit per AgentFile whose last write failed; changed under the SCP object's lock.
  std::atomic<uint32_t> unwritten_{0};
  // One bit per AgentFile that could not be read and not be moved aside; under the lock.
  uint32_t unkept_ = 0;
  // Why each file's last write failed, and the read trouble last reported; under the lock.
  std::string write_failure_[kAgentFileCount];
  std::string read_problem_[kAgentFileCount];
  std::atomic<bool> unwritten_at_stop_{false};
  std::function<void(int)> pause_hook_;
};
