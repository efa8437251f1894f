// Error record carried by almost every class, and the binary error log "error.dat".
//
// error.dat is a sequence of 20-byte records of five 32-bit little-endian integers:
// time (seconds since 1970), class, function, code, system error. The file stops growing
// past 10000 bytes: the record that reaches beyond is still appended (at most 501 records,
// 10020 bytes); after that each new error overwrites the first record with a marker
// (time, 255, 255, 255, 255) whose time is that of the latest error not logged.
//
// Appends are serialised among processes by a flock on the log, which is never waited for:
// any local user who may read the file may hold that lock. While another process holds it,
// records are kept in memory (up to 64; later ones are dropped and counted) and written, in
// their order, by the next append that finds the log free, or at the program's exit; the trace
// says once that the log is locked, and how many records were dropped.
#pragma once

#include <cstdint>
#include <string>

// Error classes: which kind of object filled the record.
enum ErrorClass : int32_t {
  ERR_PORT_SETTINGS = 2,
  ERR_STATUS_BLOCK = 3,
  ERR_CONTACT_CLOSURE = 5,
  ERR_ADDRESS = 6,
  ERR_COMM_BASE = 7,
  ERR_DATAGRAM = 8,
  ERR_UPS_INFO_BLOCK = 10,
  ERR_BCM = 11,
  ERR_HARVAN = 12,
  ERR_UPS_PROTOCOL = 13,
  ERR_REQUEST_QUEUE = 14,
  ERR_SCP_OBJECT = 15,
  ERR_BLOCK_CONVERSION = 16,
  ERR_BRANCH_TABLE = 17,
  ERR_CONFIG_BLOCK = 18,
  ERR_PASSWORD = 19,
  ERR_FRAME_BUILDER = 20,
  ERR_SCHED_SHUTDOWN_BLOCK = 21,
  ERR_DATA_FILES = 22,
  ERR_LINK_SETUP = 23,
  ERR_NOTIFY_BLOCK = 24,
  ERR_BATTERY_TEST_BLOCK = 25,
  ERR_SCP_QUEUE = 26,
  ERR_LOG_BLOCK = 27,
  ERR_ACTION = 28,
  ERR_BATTERY_INFO_BLOCK = 30,
  ERR_MAIL_RECIPIENTS = 32,
  ERR_COMMAND_BLOCK = 33,
  ERR_ALARM_QUEUE_BLOCK = 35,
  ERR_HOST_NOT_FOUND = 36,
  ERR_SERIAL_PORT = 37,
  ERR_AGENT_SERVICES = 38,
  ERR_WAVEFORM_BLOCK = 39,
  ERR_ADAPTER_QUERY = 41,
  ERR_SNMP_VALUE = 42,
  ERR_RECPTINF = 43,
};

// The four error fields; all 0 in a new record. No virtual operations, so that it can be
// the first base of any class.
struct KT_ErrorStatus {
  int32_t errorClass = 0;
  int32_t function = 0;
  int32_t code = 0;
  int32_t systemError = 0;

  // Stores the four values, then appends them with the time to "error.dat" in the working
  // directory (or the log's folder, SetErrorLogFolder). A log that cannot be opened or written
  // is skipped silently; the record is still filled.
  void LogError(int32_t errClass, int32_t func, int32_t errCode, int32_t sysError);
};

// Free form of the log append, for code that keeps no record of its own.
void AppendErrorLog(int32_t errClass, int32_t func, int32_t errCode, int32_t sysError);

// The folder the log goes to: the working directory until a program names another. The
// tools that have no working directory of their own (detect_ups, the simulators) keep their
// log beside their program, out of whatever folder they are run in. Empty: the working
// directory again.
void SetErrorLogFolder(const std::string& folder);

// The last socket (system) error of the calling thread.
int32_t GetSocketError();

// Size of a file in bytes; -1 when the path is null or empty or the file does not exist.
int64_t FileSize(const char* path);

// Debug hook: takes a format text and does nothing.
void DebugPrint(const char* format, ...);

// Name of the error log in the working directory.
inline constexpr const char* kErrorLogName = "error.dat";
// Size at which the log stops growing.
inline constexpr int64_t kErrorLogLimit = 10000;
