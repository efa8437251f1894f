#include "tests/agent/e2e/agent_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "core/network/ipc.h"
#include "core/scp/battery_info_block.h"
#include "core/scp/config_block.h"
#include "core/scp/pager_config.h"
#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"
#include "platform/named_object.h"
#include "tests/support/private_network.h"
#include "tests/support/snmp_peer.h"

AgentProcess::AgentProcess(const std::vector<std::string>& settingsLines) {
  prefix_ = testing_support::UniqueName("agent");
  // Harmless stand-ins for every effect on the machine.
  std::string text =
      "snmp_service =\nuser_terminals = no\nshutdown_command = /bin/true\nreboot_command = /bin/true\n"
      "saver_command = /bin/true\n";
  for (const auto& line : settingsLines) text += line + "\n";
  testing_support::WriteFileText(File("VigilNT.conf"), text);
}

AgentProcess::~AgentProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    Reaped();
  }
  // A killed agent leaves the files of its named objects behind.
  testing_support::RemoveUnheldSharedObjects(prefix_);
}

bool AgentProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  // The agent's network server binds UDP port 7010: outside a network of the test's own, the
  // test holds the machine's port-7010 lock for the rest of its run.
  if (!testing_support::InPrivateNetwork()) {
    static testing_support::MachineResourceLock portLock("udp_port_7010");
  }
  std::string program = program_;
  if (ordinary_user_) {
    std::string why;
    program = testing_support::ProgramForOrdinaryUser(program, &why);
    if (program.empty()) {
      std::fprintf(stderr, "AgentProcess: %s\n", why.c_str());
      return false;
    }
  }
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::string out = File("stdout.txt");
  const std::string err = File("stderr.txt");
  const std::string conf = File("VigilNT.conf");
  const testing_support::OrdinaryUser user = testing_support::OrdinaryUserIds();
  if (ordinary_user_) testing_support::GiveToOrdinaryUser(dir_.path());
  const std::string runtime = ordinary_user_ ? testing_support::OrdinaryUserRuntimeFolder() : std::string();
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int n = ::open("/dev/null", O_RDONLY);
    ::dup2(n, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    if (ordinary_user_ && !testing_support::BecomeOrdinaryUser(user)) ::_exit(126);
    if (::chdir(Dir().c_str()) != 0) ::_exit(126);
    ::unsetenv("INVOCATION_ID");
    ::unsetenv("NOTIFY_SOCKET");
    ::setenv("VIGIL_AGENT_CONF", conf.c_str(), 1);
    ::setenv("VIGIL_DATA_DIR", Dir().c_str(), 1);
    ::setenv("VIGIL_NAME_PREFIX", prefix_.c_str(), 1);
    // The test's runtime folder is not the ordinary user's: Qt would make /tmp/runtime-USER
    // in its place.
    if (!runtime.empty()) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (!faketime_.empty()) {
      ::setenv("LD_PRELOAD", faketime_.c_str(), 1);
      ::setenv("FAKETIME_TIMESTAMP_FILE", File("faketime.rc").c_str(), 1);
      ::setenv("FAKETIME_CACHE_DURATION", "1", 1);
      ::setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
    }
    for (const auto& kv : env) ::putenv(const_cast<char*>(kv.c_str()));
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  return true;
}

bool AgentProcess::UseFakeClock(int64_t at) {
  // The multi-threaded build of the library, wherever the system keeps it.
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/usr/lib", ec)) {
    const std::filesystem::path candidate = dir.path() / "faketime" / "libfaketimeMT.so.1";
    if (std::filesystem::exists(candidate, ec)) faketime_ = candidate.string();
  }
  if (faketime_.empty()) return false;
  SetFakeClock(at);
  return true;
}

void AgentProcess::SetFakeClock(int64_t at) {
  // An offset from the real time: the clock runs on from `at`. Replaced whole, so that the
  // library never reads half a line.
  const std::string path = File("faketime.rc");
  fake_offset_ = at - static_cast<int64_t>(::time(nullptr));
  testing_support::WriteFileText(path + ".new",
                                 (fake_offset_ < 0 ? "" : "+") + std::to_string(fake_offset_) + "\n");
  std::filesystem::rename(path + ".new", path);
}

int64_t AgentProcess::FakeNow() const {
  return static_cast<int64_t>(::time(nullptr)) + fake_offset_;
}

bool AgentProcess::InstallShippedMib() {
  const std::string text = testing_support::ReadFileText(testing_support::ShippedMibPath());
  if (text.empty()) return false;
  testing_support::WriteFileText(File("mib.txt"), text);
  return true;
}

int AgentProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  int status = 0;
  const bool ended = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    Reaped();
    return -1;
  }
  Reaped();
  if (WIFSIGNALED(status)) {
    // The kernel can let go of a killed program's last mapping a moment after the parent has
    // reaped it (a reader of its /proc files may hold its memory briefly): a start at once would
    // still find the single-instance object held.
    WaitFor([&] { return !testing_support::NamedMappingHeld(prefix_, "Tremona Agent Is Running"); }, 10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int AgentProcess::EndWithLocalCommand(uint8_t command, int timeoutMs) {
  // The console's end of the channel is opened under the program's prefix.
  testing_support::ScopedNamePrefix scoped(prefix_);
  int result = -2;
  {
    KT_IPC console;
    std::vector<uint8_t> frame;
    if (console.Initialize() == 1 && console.OpenChannel(kIpcConsoleRole) >= 0 &&
        BuildScpFrame(KT_ScpMessage(SCP_SET, {BLOCK_COMMAND, command}, {1}), frame) == 1 &&
        console.SendData(nullptr, frame.data(), frame.size()) == 0) {
      result = Wait(timeoutMs);  // the channel stays open until the program has taken it
    }
  }
  return result;
}

void AgentProcess::Reaped() {
  // libfaketime keeps its state in shared memory named after the process, which only a
  // normal exit removes.
  if (!faketime_.empty()) {
    std::error_code ec;
    std::filesystem::remove("/dev/shm/faketime_shm_" + std::to_string(pid_), ec);
    std::filesystem::remove("/dev/shm/sem.faketime_sem_" + std::to_string(pid_), ec);
  }
  pid_ = -1;
}

void AgentProcess::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

bool AgentProcess::Running() {
  return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::string AgentProcess::Stdout() const {
  return testing_support::ReadFileText(File("stdout.txt"));
}
std::string AgentProcess::Stderr() const {
  return testing_support::ReadFileText(File("stderr.txt"));
}

std::string AgentProcess::TraceDump(size_t headLines, size_t tailChars) const {
  const std::string trace = Stderr();
  size_t headEnd = 0;
  for (size_t n = 0; n < headLines && headEnd < trace.size(); ++n) {
    const size_t eol = trace.find('\n', headEnd);
    headEnd = eol == std::string::npos ? trace.size() : eol + 1;
  }
  const size_t tailStart = trace.size() > tailChars ? trace.size() - tailChars : 0;
  if (tailStart <= headEnd) return trace;
  return "--- agent trace: first " + std::to_string(headLines) + " lines ---\n" + trace.substr(0, headEnd) +
         "--- " + std::to_string(tailStart - headEnd) + " characters left out; the last " +
         std::to_string(tailChars) + " ---\n" + trace.substr(tailStart);
}

bool AgentProcess::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool AgentProcess::WaitForTrace(const std::vector<std::string>& texts, int timeoutMs) const {
  return WaitFor(
      [&] {
        const std::string trace = Stderr();
        return std::all_of(texts.begin(), texts.end(),
                           [&](const std::string& t) { return Contains(trace, t); });
      },
      timeoutMs);
}

bool Contains(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string AgentProcess::UseStandIns(const std::vector<std::string>& settingsLines) {
  const std::string effects = File("effects.log");
  auto standIn = [&](const std::string& path, const std::string& name) {
    testing_support::WriteFileText(path, "#!/bin/sh\necho \"" + name + " $*\" >>\"" + effects + "\"\n");
    ::chmod(path.c_str(), 0755);
  };
  standIn(File("shutdown.sh"), "shutdown");
  standIn(File("note.sh"), "note");
  std::filesystem::create_directory(File("guard"));
  for (const char* name : {"shutdown", "poweroff", "reboot", "halt"}) {
    standIn(File(std::string("guard/") + name), "SYSTEM SHUTDOWN PROGRAM");
  }
  std::string text = "snmp_service =\nuser_terminals = no\nsaver_command = /bin/true\nshutdown_command = " +
                     File("shutdown.sh") + " -h now\nreboot_command = " + File("shutdown.sh") + " -r now\n";
  for (const auto& line : settingsLines) text += line + "\n";
  testing_support::WriteFileText(File("VigilNT.conf"), text);
  return "PATH=" + File("guard") + ":/usr/local/bin:/usr/bin:/bin";
}

std::string AgentProcess::Effects() const { return testing_support::ReadFileText(File("effects.log")); }

bool ReadBlockFile(const std::string& path, KT_Block& block) {
  std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
  if (bytes.empty()) return false;
  KT_RecordReader reader(bytes.data(), bytes.size());
  return block.ConvertBlock(CONVERT_DECODE, nullptr, &reader) >= 0;
}

bool WriteBlockFile(const std::string& path, KT_Block& block) {
  KT_RecordWriter writer;
  if (block.ConvertBlock(CONVERT_ENCODE, &writer, nullptr) < 0) return false;
  testing_support::WriteFileBytes(path, writer.Data());
  return true;
}

bool ReadConfigFile(const std::string& path, ConfigBlock& block) {
  constexpr uint8_t kFormatBase = 200;
  std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
  if (bytes.size() < 2 || bytes[0] <= kFormatBase) return false;
  block.SetFileConversion(true);
  block.SetFormatSelector(bytes[0] - kFormatBase);
  KT_RecordReader reader(bytes.data() + 1, bytes.size() - 1);
  const bool ok = block.ConvertFile(CONVERT_DECODE, nullptr, &reader) >= 0;
  block.SetFileConversion(false);
  block.SetFormatSelector(2);
  return ok;
}

bool ReadBatteryInfo(const std::string& path, BatteryInfoBlock& block) {
  return ReadBlockFile(path, block);
}

int64_t OutagesInFile(const std::string& path) {
  BatteryInfoBlock block;
  if (!ReadBatteryInfo(path, block)) return -1;
  return block.GetOutageCount();
}

KT_PagerConfig TestPagerRecipient(const char* name, const std::string& port) {
  KT_PagerConfig r;
  r.SetName(name);
  r.SetAccessNumber("555-0100");
  r.SetPin("123456");
  r.SetMaxCharacters("80");
  r.SetDelaySeconds("0");
  r.SetTap(1);
  r.SetPortName(port.c_str());
  return r;
}
