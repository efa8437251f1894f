// The real VigilNT program as a child process of a test: its own data directory, settings
// file and named-object prefix; standard output and error in files of that directory.
// The agent binds UDP port 7010: unless the test moved into a network of its own
// (tests/support/private_network.h), the first Start takes the machine's port-7010 lock and
// holds it until the test ends.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

class BatteryInfoBlock;
class ConfigBlock;
class KT_PagerConfig;
class KT_Block;

class AgentProcess {
 public:
  // A fresh data directory with a settings file that starts no system service, writes to no
  // terminal and whose shutdown, reboot and saver commands are /bin/true; the settings lines
  // given are added.
  explicit AgentProcess(const std::vector<std::string>& settingsLines = {});
  ~AgentProcess();

  // Another agent program in place of VigilNT (the desktop agent); it runs in the data
  // directory, which is its working directory too.
  void UseProgram(const std::string& path) { program_ = path; }
  // The named-object prefix of another agent, so that both see the same named objects (one
  // machine to them).
  void SharePrefixWith(const AgentProcess& other) { prefix_ = other.prefix_; }
  void SetPrefix(const std::string& prefix) { prefix_ = prefix; }
  // Starts VigilNT with the arguments and extra environment entries. True when started.
  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
  // From now on the program runs as the tests' ordinary user (test_support.h), who is given
  // the data directory.
  void AsOrdinaryUser() { ordinary_user_ = true; }
  // Waits for the program to end (bounded); its exit status, or -1 when it did not end (it
  // is then killed).
  int Wait(int timeoutMs);
  // Sends a console's command (a SET of the command block) over the local channel, under the
  // program's name prefix, and waits (bounded) for the program to end: Wait's result, or -2
  // when the command could not be sent (the program is left running).
  int EndWithLocalCommand(uint8_t command, int timeoutMs);
  void Signal(int sig);
  bool Running();

  // From the next Start on, the program runs on libfaketime's clock: its wall time reads `at`
  // (seconds since 1970) now and runs on from there, while its monotonic clock stays real.
  // SetFakeClock moves the running program's wall time (it sees the step within a second).
  // False when libfaketime is not installed.
  bool UseFakeClock(int64_t at);
  void SetFakeClock(int64_t at);
  // The wall time the program's fake clock reads now.
  int64_t FakeNow() const;

  // Harmless stand-ins that log what would have happened into effects.log of the data
  // directory: the settings' shutdown and reboot commands ("shutdown ARGS"), note.sh for
  // command actions ("note ARGS"), and the system's shutdown programs on a guard search path
  // ("SYSTEM SHUTDOWN PROGRAM ..."), which must never be reached. Rewrites the settings file
  // with them and the extra lines; returns the "PATH=..." entry to give Start.
  std::string UseStandIns(const std::vector<std::string>& settingsLines = {});
  // What the stand-ins logged.
  std::string Effects() const;

  // Puts the MIB module the suite ships into the data directory as "mib.txt" (the agent offers
  // SNMP only with it); false when the shipped file cannot be read.
  bool InstallShippedMib();

  std::string Dir() const { return dir_.path().string(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Stdout() const;
  std::string Stderr() const;
  // The trace for a failure message: its first lines (the start-up: settings, mode, threads)
  // and its last characters, with the number of characters left out between them; the whole
  // trace when it is short.
  std::string TraceDump(size_t headLines = 60, size_t tailChars = 4000) const;
  // Waits (bounded) until the condition holds; true when it did.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
  // Waits (bounded) until the trace holds every one of the texts; true when it did.
  bool WaitForTrace(const std::vector<std::string>& texts, int timeoutMs) const;
  const std::string& Prefix() const { return prefix_; }
  // The running program's process id (-1 when none).
  pid_t Pid() const { return pid_; }

 private:
  // After the program was reaped: what it left behind goes, and there is no program.
  void Reaped();

  testing_support::TempDir dir_{false};
  std::string prefix_;
  std::string program_ = VIGILNT_PROGRAM;
  pid_t pid_ = -1;
  bool ordinary_user_ = false;
  std::string faketime_;     // the library, when the program runs on its clock
  int64_t fake_offset_ = 0;  // its wall time minus the real one
};

// True when `text` holds `needle`.
bool Contains(const std::string& text, const std::string& needle);
// How often `needle` occurs in `text` (overlapping occurrences count).
size_t Count(const std::string& text, const std::string& needle);
// A block as its record file (notify.dat, sch_shut.dat, ...; config.dat: ReadConfigFile) holds
// it: every branch in registration order. False when the file cannot be read or decoded.
bool ReadBlockFile(const std::string& path, KT_Block& block);
// Writes the block as its record file holds it (for a test that prepares an agent's files
// before the start); false when it cannot be encoded.
bool WriteBlockFile(const std::string& path, KT_Block& block);
// The configuration block as config.dat holds it: a format byte (200 + the format), then the
// block in the file's form of that format; false when it cannot be read or decoded.
bool ReadConfigFile(const std::string& path, ConfigBlock& block);
// The battery information block as a bat_info.dat file holds it; false when it cannot be read.
bool ReadBatteryInfo(const std::string& path, BatteryInfoBlock& block);
// The outage count recorded in a bat_info.dat file; -1 when the file cannot be read.
int64_t OutagesInFile(const std::string& path);
// A pager recipient for a prepared notify.dat: the name, a TAP pager (number 555-0100, PIN
// 123456, 80 characters) reached through the modem on `port`.
KT_PagerConfig TestPagerRecipient(const char* name, const std::string& port);
