// With "user_terminals = no" the agent writes to no logged-in user's terminal: neither the
// user-warning broadcast nor the bell of a sound action without a player.
#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "agent/actions/nt_services.h"
#include "core/scp/scp.h"
#include "platform/pseudo_terminal.h"
#include "platform/service_settings.h"
#include "tests/support/test_support.h"

namespace {

// Whatever reaches the terminal's master side within about half a second.
std::string Drain(int master) {
  std::string out;
  char buf[512];
  for (int i = 0; i < 100; ++i) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return out;
}

TEST(UserTerminalsOff, NoBroadcastAndNoBell) {
  testing_support::TempDir dir;
  platform::PseudoTerminal t;
  ASSERT_EQ(t.Open(), 0);
  ::fcntl(t.master(), F_SETFL, ::fcntl(t.master(), F_GETFL) | O_NONBLOCK);
  utmpx u{};
  u.ut_type = USER_PROCESS;
  u.ut_pid = 1;
  std::strncpy(u.ut_user, "alice", sizeof u.ut_user);
  std::strncpy(u.ut_line, t.slave_path().substr(5).c_str(), sizeof u.ut_line);
  testing_support::WriteFileText(dir.File("utmp"), std::string(reinterpret_cast<const char*>(&u), sizeof u));

  KT_SCP scp;
  KT_NTServices nt(scp);
  KT_EffectSettings settings = nt.Effects().Settings();
  settings.terminals.utmpPath = dir.File("utmp");
  settings.soundPlayer.clear();
  settings.shutdownCommand = "/nonexistent/shutdown";
  nt.Effects().SetSettings(settings);

  const platform::ServiceSettings saved = platform::GetServiceSettings();
  platform::ServiceSettings off = saved;
  off.userTerminals = false;
  platform::SetServiceSettings(off);
  EXPECT_EQ(nt.Broadcast("Power Failure."), 1);
  EXPECT_EQ(nt.PlaySound("alarm.wav"), 1);
  EXPECT_TRUE(nt.Effects().WaitIdle(5000));
  EXPECT_EQ(Drain(t.master()), "");

  // The same terminal does get them when the setting allows it.
  platform::SetServiceSettings(saved);
  EXPECT_EQ(nt.Broadcast("Power Failure."), 1);
  EXPECT_TRUE(nt.Effects().WaitIdle(5000));
  EXPECT_NE(Drain(t.master()).find("Power Failure."), std::string::npos);
}

}  // namespace
