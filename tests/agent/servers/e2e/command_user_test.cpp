// Who runs the agent's commands, tried on the real VigilNT in a network of the test's own. Any
// console may set the pre-shutdown command and the command action without a password, so an
// agent running as root runs them as the settings' command_user (nobody unless the settings
// file says otherwise) and only the settings file's own shutdown and reboot commands as root;
// an account it cannot take runs nothing, and its trace says why; an agent run as an ordinary
// user runs every command as itself.
//
// A console sets the pre-shutdown command and orders a reboot of the idle agent. Its shutdown
// sequence runs the command action of the remote-shutdown event, the pre-shutdown command and
// the reboot command (never the shutdown command), each a stand-in script that writes down the
// ids and the environment it ran with; nothing of the machine is shut down. Every case has an
// agent of its own on its own loopback address, and all of them run at once.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/scp/scp.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"

namespace {

using testing_support::ScpConsole;
using testing_support::SetFrame;

constexpr int kBoundMs = 60000;
const char* const kScripts[] = {"command-action", "pre-shutdown", "reboot", "shutdown"};

// How an agent is started.
enum class Launch {
  kAsRoot,           // as the tests' root
  kInUserNamespace,  // as root of a user namespace that maps root alone (unshare -r)
  kAsOrdinaryUser,   // as the tests' ordinary user
};

// Who a stand-in ran as: ids as /proc/PID/status gives them (real, effective, saved, filesystem),
// supplementary groups, effective capabilities and HOME USER LOGNAME; empty when it must not run.
struct Ran {
  std::string text;
};

std::string Ids(unsigned id) {
  const std::string s = std::to_string(id);
  return s + " " + s + " " + s + " " + s;
}

// Ran as `uid` with every id of it (and, for the account, nothing else of root's).
Ran AsUser(uid_t uid) {
  return {"Uid: " + Ids(uid) + "\n"};
}

// Ran as the account of that name, as the user and group databases have it.
Ran AsAccount(const std::string& name) {
  const passwd* pw = ::getpwnam(name.c_str());
  if (pw == nullptr) return {"(no account " + name + ")"};
  int n = 64;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  ::getgrouplist(name.c_str(), pw->pw_gid, groups.data(), &n);
  groups.resize(static_cast<size_t>(n > 0 ? n : 0));
  std::string groupText = "Groups:";
  for (gid_t g : groups) groupText += " " + std::to_string(g);
  return {"Uid: " + Ids(pw->pw_uid) + "\nGid: " + Ids(pw->pw_gid) + "\n" + groupText +
          "\nCapEff: 0000000000000000\nEnv: " + pw->pw_dir + " " + name + " " + name + "\n"};
}

Ran NotRun() {
  return {};
}

struct Case {
  const char* what;
  Launch launch;
  std::string commandUser;  // empty: the settings file names none
  Ran console;              // the command action and the pre-shutdown command
  Ran reboot;               // the settings file's reboot command
  std::string trace;        // the agent's trace holds this (a command not run says why)
};

class CommandUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testing_support::EnterPrivateNetwork(error)) << error;
    // The stand-in: every user may run it, and write into the case folders.
    ::chmod(tools_.path().c_str(), 0755);
    testing_support::WriteFileText(
        Script(),
        "#!/bin/sh\n# record.sh FOLDER NAME: who this ran as, into FOLDER/NAME.txt\n"
        "{ awk '/^(Uid|Gid|Groups|CapEff):/ { $1 = $1; print }' /proc/$$/status\n"
        "  echo \"Env: $HOME $USER $LOGNAME\"; } >\"$1/$2.tmp\" && mv \"$1/$2.tmp\" \"$1/$2.txt\"\n");
    ::chmod(Script().c_str(), 0755);
  }
  std::string Script() const { return tools_.File("record.sh"); }
  std::string Folder(size_t n) const { return tools_.File("case" + std::to_string(n)); }

  testing_support::TempDir tools_{false};
};

TEST_F(CommandUserTest, ConsolesCommandsRunAsTheCommandUserTheSettingsCommandsAsTheAgent) {
  const bool root = ::geteuid() == 0;
  const testing_support::OrdinaryUser ordinary = testing_support::OrdinaryUserIds();
  std::vector<Case> cases = {
      {"an agent of an ordinary user runs every command as itself, whatever the settings say",
       Launch::kAsOrdinaryUser, "root", AsUser(ordinary.uid), AsUser(ordinary.uid), ""},
      {"root of a user namespace cannot take an account the namespace does not map", Launch::kInUserNamespace,
       "", NotRun(), AsUser(0),
       "The command is not run: the account nobody (uid " + std::to_string(::getpwnam("nobody")->pw_uid) +
           ", gid " + std::to_string(::getpwnam("nobody")->pw_gid) +
           ") cannot be taken: setting the supplementary groups failed: Operation not permitted"},
  };
  if (root) {
    cases.push_back({"a root agent runs the consoles' commands as nobody", Launch::kAsRoot, "",
                     AsAccount("nobody"), AsUser(0), "The command runs as nobody"});
    cases.push_back(
        {"the settings file may have them run as root", Launch::kAsRoot, "root", AsUser(0), AsUser(0), ""});
    cases.push_back({"an account that does not exist runs nothing", Launch::kAsRoot, "vigil-no-such-user",
                     NotRun(), AsUser(0), "The command is not run: there is no user \"vigil-no-such-user\""});
  } else {
    std::printf("the cases of an agent run as the machine's root need root; not tried\n");
  }

  // Every agent at once, each on its own address, set up as a console would have it.
  std::vector<std::unique_ptr<AgentProcess>> agents;
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case& c = cases[n];
    const std::string ip = "127.0.0." + std::to_string(11 + n);
    ASSERT_TRUE(std::filesystem::create_directory(Folder(n)));
    ::chmod(Folder(n).c_str(), 0777);
    auto agent = std::make_unique<AgentProcess>();
    testing_support::WriteFileText(
        agent->File("VigilNT.conf"),
        "snmp_service =\nuser_terminals = no\nbind_address = " + ip + "\nshutdown_command = " + Script() +
            " " + Folder(n) + " shutdown\nreboot_command = " + Script() + " " + Folder(n) +
            " reboot\nsaver_command = /bin/true\n" +
            (c.commandUser.empty() ? "" : "command_user = " + c.commandUser + "\n"));
    NotifyBlock notify;
    notify.SetDefaultSupport(SUPPORT_EVENTS);
    notify.SetDefaultSupport(SUPPORT_ACTIONS);
    KT_ActionEntry action(EVENT_REMOTE_SHUTDOWN, ACTION_COMMAND);
    action.delay = 0;
    action.interval = 0;
    action.SetMessage((Script() + " " + Folder(n) + " command-action").c_str());
    notify.AddAction(action);
    ASSERT_TRUE(WriteBlockFile(agent->File("notify.dat"), notify));
    std::vector<std::string> args = {"-b", "-x", "5"};  // idle: no UPS
    if (c.launch == Launch::kInUserNamespace) {
      agent->UseProgram("/usr/bin/unshare");
      args.insert(args.begin(), {"--map-root-user", VIGILNT_PROGRAM});
    }
    if (c.launch == Launch::kAsOrdinaryUser) agent->AsOrdinaryUser();
    ASSERT_TRUE(agent->Start(args)) << c.what;
    agents.push_back(std::move(agent));
  }

  // A console sets the pre-shutdown command, then orders the reboot.
  ScpConsole console("127.0.0.9");
  ASSERT_TRUE(console.ok());
  for (size_t n = 0; n < cases.size(); ++n) {
    SCOPED_TRACE(cases[n].what);
    const std::string ip = "127.0.0." + std::to_string(11 + n);
    ASSERT_TRUE(WaitUntilServing(*agents[n])) << agents[n]->TraceDump();
    KT_SCP image;
    {
      auto lock = image.Lock();
      image.config.SetPreShutdownCommand((Script() + " " + Folder(n) + " pre-shutdown").c_str());
    }
    auto answer = Ask(console, ip, SetFrameOf(image, {4, 2}));
    ASSERT_TRUE(answer) << agents[n]->TraceDump();
    EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
    answer = Ask(console, ip, SetFrame({27, COMMAND_RESTART}, {1}));
    ASSERT_TRUE(answer) << agents[n]->TraceDump();
    EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  }

  for (size_t n = 0; n < cases.size(); ++n) {
    const Case& c = cases[n];
    SCOPED_TRACE(c.what);
    AgentProcess& agent = *agents[n];
    // The sequence ends with the reboot command; the agent then ends by itself.
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return std::filesystem::exists(Folder(n) + "/reboot.txt"); }, kBoundMs))
        << agent.TraceDump();
    EXPECT_EQ(agent.Wait(kBoundMs), 0) << agent.TraceDump();
    const std::string trace = agent.Stderr();
    EXPECT_TRUE(Contains(trace, "Running the pre-shutdown command: " + Script())) << agent.TraceDump();
    EXPECT_TRUE(Contains(trace, "In ExecuteCommand")) << agent.TraceDump();
    EXPECT_TRUE(c.trace.empty() || Contains(trace, c.trace)) << c.trace << "\n" << agent.TraceDump();
    for (const char* script : kScripts) {
      const std::string name = script;
      const Ran want = name == "shutdown" ? NotRun() : name == "reboot" ? c.reboot : c.console;
      const std::string file = Folder(n) + "/" + script + ".txt";
      if (want.text.empty()) {
        EXPECT_FALSE(std::filesystem::exists(file)) << script << ": " << testing_support::ReadFileText(file);
        continue;
      }
      // The command action is not waited for: it may still be writing.
      EXPECT_TRUE(AgentProcess::WaitFor([&] { return std::filesystem::exists(file); }, kBoundMs)) << script;
      EXPECT_TRUE(Contains(testing_support::ReadFileText(file), want.text))
          << script << " ran as:\n"
          << testing_support::ReadFileText(file) << "expected:\n"
          << want.text;
    }
  }
}

}  // namespace
