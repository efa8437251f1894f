// The daemon's effects on the machine, each pointed at a stand-in: message boxes through a
// fake layer, the broadcast through a login-record file of the test's own and pseudo-terminals,
// programs, the saver, sound and the shutdown through scripts that log their arguments, mail
// through a local SMTP server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/actions/nt_services.h"
#include "core/scp/event_log_block.h"
#include "core/scp/scp.h"
#include "platform/pseudo_terminal.h"
#include "platform/system_log.h"
#include "platform/user_broadcast.h"
#include "tests/support/smtp_test_server.h"
#include "tests/support/test_support.h"

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::TraceCapture;
using testing_support::WriteFileText;

namespace {

constexpr int kBoundMs = 10000;

// A box layer like a real desktop: Show blocks until its box is closed.
class FakeBoxes : public KT_MessageBoxes {
 public:
  void Show(const std::string& text, const std::string& caption, uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex_);
    open_.push_back(caption + ":" + text);
    const std::string me = open_.back();
    cv_.wait(lock, [&] { return std::find(open_.begin(), open_.end(), me) == open_.end(); });
  }
  bool Close(const std::string& caption) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (it->rfind(caption + ":", 0) == 0) {
        open_.erase(it);
        cv_.notify_all();
        return true;
      }
    }
    return false;
  }
  std::vector<std::string> Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }
  // Waits until `n` boxes are open.
  bool WaitOpen(size_t n) {
    for (int i = 0; i < 1000; ++i) {
      if (Open().size() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> open_;
};

// A script that appends its arguments (one line per call) to `log` and exits with `code`;
// with a FIFO it first waits until the test opens the FIFO for writing and closes it.
std::string StandIn(const TempDir& dir, const std::string& name, const std::string& log, int code = 0,
                    const std::string& fifo = "") {
  const std::string path = dir.File(name);
  std::string body = "#!/bin/sh\n";
  if (!fifo.empty()) body += "cat '" + fifo + "' > /dev/null\n";
  body += "echo \"$@\" >> '" + log + "'\n";
  body += "pwd >> '" + log + ".cwd'\n";
  body += "exit " + std::to_string(code) + "\n";
  WriteFileText(path, body);
  ::chmod(path.c_str(), 0755);
  return path;
}

std::string MakeFifo(const TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  ::mkfifo(path.c_str(), 0600);
  return path;
}

// Lets the stand-in waiting on the FIFO go on.
void Release(const std::string& fifo) {
  for (int i = 0; i < 2000; ++i) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

utmpx Record(short type, const std::string& user, const std::string& line, const std::string& host) {
  utmpx u{};
  u.ut_type = type;
  u.ut_pid = 1;
  std::strncpy(u.ut_user, user.c_str(), sizeof u.ut_user);
  std::strncpy(u.ut_line, line.c_str(), sizeof u.ut_line);
  std::strncpy(u.ut_host, host.c_str(), sizeof u.ut_host);
  return u;
}

void WriteUtmp(const std::string& path, const std::vector<utmpx>& records, size_t tail = 0) {
  std::string bytes;
  for (const utmpx& r : records) bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
  bytes.append(tail, 'x');
  WriteFileText(path, bytes);
}

// What arrived on a terminal's master side within about a second.
std::string Drain(int master) {
  std::string out;
  char buf[4096];
  for (int i = 0; i < 200; ++i) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
      i = 150;  // a little more, then stop
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return out;
}

std::string Line(const platform::PseudoTerminal& t) { return t.slave_path().substr(5); }  // "pts/N"

class EffectsTest : public ::testing::Test {
 protected:
  EffectsTest() : nt(scp) {
    nt.SetPauseHook([](int) {});
    platform::SetSystemLogSink([this](std::string_view, platform::LogEntryType type, std::string_view text) {
      std::lock_guard<std::mutex> lock(mutex);
      log.push_back({type, std::string(text)});
    });
    settings = nt.Effects().Settings();
    settings.terminals.utmpPath = dir.File("utmp");
    settings.soundPlayer.clear();
    settings.shutdownCommand = "/nonexistent/shutdown -h now";  // never the real one
    // The commands of these tests run as the test's own user, whose folders they use (the
    // account of the consoles' commands is tried against the real agent).
    if (const passwd* pw = ::getpwuid(::geteuid())) settings.commandUser = pw->pw_name;
    nt.Effects().SetSettings(settings);
  }
  ~EffectsTest() override {
    EXPECT_TRUE(nt.Effects().WaitIdle(kBoundMs));
    platform::SetSystemLogSink(nullptr);
  }
  void Apply() { nt.Effects().SetSettings(settings); }

  TempDir dir;
  KT_SCP scp;
  KT_NTServices nt;
  KT_EffectSettings settings;
  std::mutex mutex;
  std::vector<std::pair<platform::LogEntryType, std::string>> log;
};

TEST_F(EffectsTest, SecondPopupClosesTheFirstBox) {
  auto boxes = std::make_shared<FakeBoxes>();
  nt.SetMessageBoxes(boxes);
  EXPECT_EQ(nt.PopupMessage("first", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  ASSERT_TRUE(boxes->WaitOpen(1));
  EXPECT_EQ(nt.PopupMessage("second", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  ASSERT_TRUE(boxes->WaitOpen(1));
  EXPECT_EQ(boxes->Open(), std::vector<std::string>{"Tremona Agent Message:second"});
  // A box of another caption is still the one that gets closed.
  EXPECT_EQ(nt.PopupMessage("third", "Error", 0x10), 1);
  ASSERT_TRUE(boxes->WaitOpen(1));
  EXPECT_EQ(boxes->Open(), std::vector<std::string>{"Error:third"});
  nt.WarnAdmin();
  EXPECT_TRUE(boxes->Open().empty());
}

// The desktop agent's services derive from KT_OSServices and show their boxes on threads of
// their own, through the same one-box-at-a-time rule.
class DesktopServices : public KT_OSServices {
 public:
  using KT_OSServices::KT_OSServices;
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    return StartMessageBoxThread(text, caption, flags);
  }
};

// A box that cannot be closed from outside: only the user (Release) ends it.
class StuckBoxes : public KT_MessageBoxes {
 public:
  void Show(const std::string& text, const std::string&, uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex_);
    shown_.push_back(text);
    cv_.wait(lock, [&] { return released_; });
  }
  bool Close(const std::string&) override { return false; }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::vector<std::string> Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> shown_;
  bool released_ = false;
};

TEST_F(EffectsTest, DesktopServicesKeepOneBoxAndWarnAdminGivesUpAfterASecond) {
  KT_SCP desktopScp;
  DesktopServices desktop(desktopScp);
  EXPECT_EQ(desktop.PopupMessage("no layer yet", kAgentMessageCaption, kMessageBoxAgentStyle), -1);
  auto boxes = std::make_shared<FakeBoxes>();
  desktop.SetMessageBoxes(boxes);
  EXPECT_EQ(desktop.PopupMessage("first", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  ASSERT_TRUE(boxes->WaitOpen(1));
  EXPECT_EQ(desktop.PopupMessage("second", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  ASSERT_TRUE(boxes->WaitOpen(1));
  EXPECT_EQ(boxes->Open(), std::vector<std::string>{"Tremona Agent Message:second"});
  desktop.WarnAdmin();
  EXPECT_TRUE(boxes->Open().empty());

  // A box that does not close: WarnAdmin waits its second, says so, and the next box shows.
  auto stuck = std::make_shared<StuckBoxes>();
  desktop.SetMessageBoxes(stuck);
  TraceCapture trace;
  EXPECT_EQ(desktop.PopupMessage("held", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  EXPECT_EQ(desktop.PopupMessage("next", kAgentMessageCaption, kMessageBoxAgentStyle), 1);
  EXPECT_TRUE(trace.Contains("Timeout waiting for msg_box_th in WarnAdmin.\n"));
  for (int i = 0; i < 2000 && stuck->Shown().size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(stuck->Shown(), (std::vector<std::string>{"held", "next"}));
  stuck->Release();
  EXPECT_TRUE(desktop.WaitMessageBox(kBoundMs));
}

TEST_F(EffectsTest, EventLogCarriesTheEventNames) {
  EXPECT_EQ(nt.LogEvent(1, 36), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(nt.LogEvent(2, EVENT_UPS_DISCOVERED), 1);
  EXPECT_EQ(nt.LogEvent(7, EVENT_LOW_BATTERY), 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].first, platform::LogEntryType::kInformation);
  EXPECT_EQ(log[0].second, "UPS Discovered");
  EXPECT_EQ(log[1].second, "Low Battery");
}

TEST_F(EffectsTest, BroadcastReachesEveryUserTerminalButItsOwnHosts) {
  platform::PseudoTerminal alice, bob, self, dead;
  ASSERT_EQ(alice.Open(), 0);
  ASSERT_EQ(bob.Open(), 0);
  ASSERT_EQ(self.Open(), 0);
  ASSERT_EQ(dead.Open(), 0);
  const std::string host = platform::LocalHostName();
  WriteUtmp(settings.terminals.utmpPath,
            {Record(USER_PROCESS, "alice", Line(alice), ""),
             Record(USER_PROCESS, "alice", Line(alice), "laptop"),  // same terminal: one write
             Record(USER_PROCESS, "bob", Line(bob), "laptop"),
             Record(USER_PROCESS, "carol", Line(self), host),       // opened from this machine
             Record(DEAD_PROCESS, "dave", Line(dead), ""),
             Record(USER_PROCESS, "", Line(dead), ""),
             Record(USER_PROCESS, "eve", "../etc/passwd", ""),
             Record(LOGIN_PROCESS, "LOGIN", "tty1", "")},
            100);  // a torn record at the end is ignored
  EXPECT_EQ(nt.Broadcast(nullptr), -1);
  EXPECT_EQ(nt.code, 1);
  EXPECT_EQ(nt.function, 2);
  ASSERT_EQ(nt.Broadcast("Power failure\x1b]0;owned\x07 at \x9b" "2J\xc2\x9b" "5 site\nShutdown soon"), 1);
  ASSERT_TRUE(nt.Effects().WaitIdle(kBoundMs));
  const std::string a = Drain(alice.master());
  EXPECT_NE(a.find("Broadcast message from Tremona Agent on " + host), std::string::npos) << a;
  EXPECT_NE(a.find("Power failure]0;owned at 2J5 site\r\nShutdown soon\r\n"), std::string::npos) << a;
  EXPECT_EQ(a.find('\x1b'), std::string::npos);
  EXPECT_EQ(a.find("\xc2\x9b"), std::string::npos);
  EXPECT_EQ(a.find("Power failure", a.find("Power failure") + 1), std::string::npos);  // once
  EXPECT_NE(Drain(bob.master()).find("Shutdown soon"), std::string::npos);
  EXPECT_EQ(Drain(self.master()), "");
  EXPECT_EQ(Drain(dead.master()), "");

  const auto sessions = platform::ReadUserSessions(settings.terminals.utmpPath);
  EXPECT_EQ(sessions.size(), 5u);  // user processes with a name and a line
  EXPECT_TRUE(platform::ReadUserSessions(dir.File("missing")).empty());
  EXPECT_EQ(platform::TerminalSafeText("caf\xc3\xa9\t\x7f\xff"), "caf\xc3\xa9\t");
}

TEST_F(EffectsTest, ProgramsStartWithoutAShellAndTheirErrorsAreRecorded) {
  const std::string out = dir.File("run.log");
  const std::string prog = StandIn(dir, "prog", out);
  EXPECT_EQ(nt.RunProgram(nullptr), -1);
  EXPECT_EQ(nt.function, 7);
  EXPECT_EQ(nt.code, 1);
  EXPECT_EQ(nt.RunProgram((dir.File("missing") + " x").c_str()), -1);
  EXPECT_EQ(nt.code, 2);
  EXPECT_EQ(nt.systemError, ENOENT);
  EXPECT_EQ(nt.RunAndWait((prog + " \"a b\" ; rm -rf x $(id) `id`").c_str()), 1);
  EXPECT_EQ(ReadFileText(out), "a b ; rm -rf x $(id) `id`\n");
  EXPECT_EQ(nt.RunAndWait(nullptr), -1);
  EXPECT_EQ(nt.function, 11);
  EXPECT_EQ(nt.RunProgram(prog.c_str()), 1);
  ASSERT_TRUE(WaitForFile(out + ".cwd"));
}

TEST_F(EffectsTest, WaitsForCommandAndSaverAreBounded) {
  const std::string out = dir.File("wait.log");
  const std::string fifo = MakeFifo(dir, "hold");
  settings.runWaitMs = 200;
  settings.saverWaitMs = 200;
  settings.saverCommand = StandIn(dir, "saver-held", out, 0, fifo);
  Apply();
  TraceCapture trace;
  // Still running when the bound passes: the agent goes on and says so.
  EXPECT_EQ(nt.RunAndWait(settings.saverCommand.c_str()), 0);
  EXPECT_TRUE(trace.Contains("still running after 0 s; going on without it"));
  EXPECT_EQ(::access(out.c_str(), F_OK), -1);  // not killed, not done
  Release(fifo);
  ASSERT_TRUE(WaitForFile(out));

  EXPECT_EQ(nt.RunSaver(), -1);
  EXPECT_EQ(nt.function, 9);
  EXPECT_EQ(nt.code, 1);
  EXPECT_EQ(nt.systemError, ETIMEDOUT);
  Release(fifo);

  // The saver found on the search path, waited for.
  const std::string bin = dir.File("bin");
  std::filesystem::create_directory(bin);
  const std::string saverLog = dir.File("saver.log");
  std::filesystem::rename(StandIn(dir, "saver", saverLog), bin + "/saver");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  settings.saverCommand = "saver";
  settings.saverWaitMs = KT_EffectSettings::kThreeMinutesMs;
  Apply();
  EXPECT_EQ(nt.RunSaver(), 1);
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(ReadFileText(saverLog), "\n");
  settings.saverCommand = dir.File("no-saver");
  Apply();
  EXPECT_EQ(nt.RunSaver(), -1);
  EXPECT_EQ(nt.code, 2);
}

TEST_F(EffectsTest, ShutdownRunsTheConfiguredCommandThenEndsTheService) {
  const std::string out = dir.File("shutdown.log");
  settings.shutdownCommand = StandIn(dir, "fake-shutdown", out) + " -h now";
  Apply();
  EXPECT_FALSE(nt.IsExitSignalled());
  EXPECT_EQ(nt.ShutdownSystem(), 1);
  EXPECT_EQ(ReadFileText(out), "-h now\n");
  EXPECT_TRUE(nt.IsExitSignalled());

  KT_SCP other;
  KT_NTServices failing(other);
  settings.shutdownCommand = StandIn(dir, "bad-shutdown", out, 3);
  failing.Effects().SetSettings(settings);
  EXPECT_EQ(failing.ShutdownSystem(), -1);
  EXPECT_EQ(failing.function, 8);
  EXPECT_EQ(failing.code, 3);
  EXPECT_EQ(failing.systemError, 3);
  EXPECT_TRUE(failing.IsExitSignalled());
}

TEST_F(EffectsTest, SoundGoesToThePlayerOrRingsTheBell) {
  const std::string out = dir.File("sound.log");
  settings.soundPlayer = StandIn(dir, "player", out) + " --quiet";
  Apply();
  EXPECT_EQ(nt.PlaySound("alarm.wav"), 1);
  EXPECT_EQ(nt.PlaySound("-rf"), 1);  // never read as an option
  EXPECT_EQ(ReadFileText(out), "--quiet alarm.wav\n--quiet ./-rf\n");
  EXPECT_EQ(nt.PlaySound(nullptr), -1);
  EXPECT_EQ(nt.function, 10);
  EXPECT_EQ(nt.code, 1);
  settings.soundPlayer = StandIn(dir, "broken-player", out, 2);
  Apply();
  EXPECT_EQ(nt.PlaySound("alarm.wav"), -1);
  EXPECT_EQ(nt.code, 2);

  platform::PseudoTerminal t;
  ASSERT_EQ(t.Open(), 0);
  WriteUtmp(settings.terminals.utmpPath, {Record(USER_PROCESS, "alice", Line(t), "")});
  settings.soundPlayer.clear();
  Apply();
  EXPECT_EQ(nt.PlaySound("alarm.wav"), 1);
  EXPECT_EQ(Drain(t.master()), "\a");
}

TEST_F(EffectsTest, MailProgramNeedsACompleteAccountButTheFileIsWritten) {
  const std::string out = dir.File("mail.log");
  settings.mailProgram = StandIn(dir, "fake-tremmail", out);
  Apply();
  nt.Effects().SetLogon([](const std::string& user, const std::string&, const std::string& password)
                            -> std::optional<KT_LogonUser> {
    if (user != "ops" || password != "secret") return std::nullopt;
    return KT_LogonUser{::geteuid(), ::getegid()};
  });
  EXPECT_EQ(nt.StartMailProgram("UPS on battery", "Jane Doe", "ops,site"), 0);
  EXPECT_EQ(ReadFileText("tremmail.txt"), "UPS on battery\n");
  EXPECT_EQ(nt.StartMailProgram("Power back", "Jane Doe", "ops,site,wrong"), 0);  // logon fails
  EXPECT_EQ(nt.StartMailProgram("", "Jane Doe", ",site,secret"), 0);
  EXPECT_EQ(ReadFileText("tremmail.txt"), "\n");  // an empty text gives an empty body
  ASSERT_TRUE(nt.Effects().WaitIdle(kBoundMs));
  EXPECT_EQ(::access(out.c_str(), F_OK), -1);

  EXPECT_EQ(nt.StartMailProgram("UPS on battery", "Jane Doe", "ops,site,secret"), 1);
  ASSERT_TRUE(nt.Effects().WaitIdle(kBoundMs));
  EXPECT_EQ(ReadFileText(out), "Jane Doe\n");  // the recipient as one argument
  EXPECT_EQ(ReadFileText(out + ".cwd"), std::filesystem::current_path().string() + "\n");
}

TEST_F(EffectsTest, MailFileIsNotRewrittenWhileASenderMayStillReadIt) {
  const std::string out = dir.File("mail.log");
  const std::string fifo = MakeFifo(dir, "sender");
  settings.mailProgram = StandIn(dir, "slow-tremmail", out, 0, fifo);
  Apply();
  nt.Effects().SetLogon([](const std::string&, const std::string&, const std::string&) {
    return std::optional<KT_LogonUser>(KT_LogonUser{::geteuid(), ::getegid()});
  });
  EXPECT_EQ(nt.StartMailProgram("first", "a", "u,d,p"), 1);
  EXPECT_EQ(nt.StartMailProgram("second", "b", "u,d,p"), 1);  // waits for the first sender
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadFileText("tremmail.txt"), "first\n");
  Release(fifo);
  for (int i = 0; i < 2000 && ReadFileText("tremmail.txt") != "second\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ReadFileText("tremmail.txt"), "second\n");
  Release(fifo);
  ASSERT_TRUE(nt.Effects().WaitIdle(kBoundMs));
  EXPECT_EQ(ReadFileText(out), "a\nb\n");
}

TEST_F(EffectsTest, MailActionGoesThroughSmtp) {
  testing_support::SmtpTestServer server;
  ASSERT_TRUE(server.Running());
  WriteFileText("mail.conf", server.SettingsText());
  EXPECT_EQ(nt.SendMail("Power failure.\nThe UPS is on battery.", "Tremona Mail System", "ops@example.test"), 1);
  EXPECT_EQ(nt.SendMail("x", "y", nullptr), 0);
  ASSERT_TRUE(nt.Effects().WaitIdle(30000));
  const auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"ops@example.test"});
  EXPECT_EQ(mails[0].Header("Subject"), "Tremona Mail System");
  EXPECT_NE(mails[0].Body().find("The UPS is on battery."), std::string::npos);
}

}  // namespace
