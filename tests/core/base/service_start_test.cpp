#include "core/base/service_start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/service_control.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;
using Argv = std::vector<std::string>;

// Installs a fake systemctl runner and privilege for one test.
class FakeSystemctl {
 public:
  explicit FakeSystemctl(bool privileged = true) {
    platform::SetServicePrivilegeCheck([privileged] { return privileged; });
    platform::SetServiceRunner([this](const Argv& argv, int timeoutMs) {
      calls.push_back(argv);
      timeouts.push_back(timeoutMs);
      if (argv.size() > 1 && argv[1] == "is-active") return active ? 0 : 3;
      return startExit;
    });
  }
  ~FakeSystemctl() {
    platform::SetServiceRunner(nullptr);
    platform::SetServicePrivilegeCheck(nullptr);
  }
  bool active = false;
  int startExit = 0;
  std::vector<Argv> calls;
  std::vector<int> timeouts;
};

TEST(StartServiceByName, NamesMapToUnits) {
  FakeSystemctl fake;
  fake.active = true;
  EXPECT_EQ(StartServiceByName("VigilNT", 0), SERVICE_RUNNING);
  EXPECT_EQ(StartServiceByName("SNMP", 1), SERVICE_RUNNING);
  ASSERT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[0], (Argv{"systemctl", "is-active", "--quiet", "VigilNT.service"}));
  EXPECT_EQ(fake.calls[1], (Argv{"systemctl", "is-active", "--quiet", "snmpd.service"}));
  // The network stack is never asked about.
  EXPECT_EQ(StartServiceByName("tcpip", 0), SERVICE_RUNNING);
  EXPECT_EQ(fake.calls.size(), 2u);
  // Names that cannot be a unit never reach the command line.
  EXPECT_EQ(StartServiceByName("--now", 1), SERVICE_NOT_RUNNING);
  EXPECT_EQ(StartServiceByName("a b", 1), SERVICE_NOT_RUNNING);
  EXPECT_EQ(StartServiceByName("../x", 1), SERVICE_NOT_RUNNING);
  EXPECT_EQ(StartServiceByName("", 1), SERVICE_NOT_RUNNING);
  EXPECT_EQ(StartServiceByName(nullptr, 1), SERVICE_NOT_RUNNING);
  EXPECT_EQ(fake.calls.size(), 2u);
}

TEST(StartServiceByName, StartsAStoppedServiceWithABoundedWait) {
  FakeSystemctl fake;
  EXPECT_EQ(StartServiceByName("snmp", 0), SERVICE_NOT_RUNNING);
  EXPECT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(StartServiceByName("snmp", 1), SERVICE_STARTED);
  ASSERT_EQ(fake.calls.size(), 3u);
  EXPECT_EQ(fake.calls[2], (Argv{"systemctl", "start", "snmpd.service"}));
  EXPECT_EQ(fake.timeouts[2], 120000);
  fake.startExit = 1;
  EXPECT_EQ(StartServiceByName("snmp", 1), SERVICE_NOT_RUNNING);
}

TEST(StartServiceByName, WithoutTheRightToStartNothingIsStarted) {
  FakeSystemctl fake(false);
  EXPECT_EQ(StartServiceByName("VigilNT", 1), SERVICE_NOT_RUNNING);
  ASSERT_EQ(fake.calls.size(), 1u);  // only asked whether it runs
  EXPECT_EQ(fake.calls[0][1], "is-active");
}

TEST(ServiceControl, RunsAStandInSystemctlWithoutAShell) {
  TempDir dir;
  const std::string script = dir.File("systemctl");
  WriteFileText(script,
                "#!/bin/sh\n"
                "printf '%s|' \"$@\" >> \"" + dir.File("calls") + "\"\n"
                "echo >> \"" + dir.File("calls") + "\"\n"
                "case \"$1\" in is-active) exit 3;; start) exit 0;; esac\n"
                "exit 1\n");
  ::chmod(script.c_str(), 0755);
  platform::SetSystemctlPath(script);
  platform::SetServicePrivilegeCheck([] { return true; });
  EXPECT_EQ(StartServiceByName("snmp", 1), SERVICE_STARTED);
  platform::SetSystemctlPath("");
  platform::SetServicePrivilegeCheck(nullptr);
  EXPECT_EQ(ReadFileText(dir.File("calls")), "is-active|--quiet|snmpd.service|\nstart|snmpd.service|\n");
}

TEST(ServiceControl, RunProgramResults) {
  TempDir dir;
  EXPECT_EQ(platform::RunProgram({"/bin/sh", "-c", "exit 7"}, 10000), 7);
  EXPECT_EQ(platform::RunProgram({"sh", "-c", "exit 0"}, 10000), 0);  // looked up on PATH
  EXPECT_EQ(platform::RunProgram({dir.File("missing")}, 10000), -1);
  EXPECT_EQ(platform::RunProgram({}, 10000), -1);
  EXPECT_EQ(platform::RunProgram({"/bin/sh", "-c", "kill -9 $$"}, 10000), -1);
  // A program that does not end within the limit is killed and reaped.
  EXPECT_EQ(platform::RunProgram({"/bin/sleep", "30"}, 50), -1);
}

// The program VIGIL_SYSTEMCTL names answers `show`; its standard output says why a start did
// not happen.
TEST(ServiceControl, TheStartSaysWhyFromTheUnitsPropertiesOfTheNamedSystemctl) {
  TempDir dir;
  const std::string script = dir.File("systemctl");
  WriteFileText(script,
                "#!/bin/sh\n"
                "case \"$1\" in\n"
                "  show) cat \"" +
                    dir.File("show") +
                    "\"; exit 0;;\n"
                    "  start) exit 1;;\n"
                    "esac\n"
                    "exit 1\n");
  ::chmod(script.c_str(), 0755);
  setenv("VIGIL_SYSTEMCTL", script.c_str(), 1);
  platform::SetServicePrivilegeCheck([] { return true; });
  struct Row {
    const char* show;
    platform::UnitStartOutcome outcome;
  };
  const Row rows[] = {
      {"LoadState=not-found\nActiveState=inactive\n", platform::UnitStartOutcome::NotFound},
      {"LoadState=loaded\nActiveState=active\n", platform::UnitStartOutcome::AlreadyActive},
      {"LoadState=loaded\nActiveState=failed\nResult=exit-code\nExecMainStatus=203\n",
       platform::UnitStartOutcome::ExecFailed},
      {"", platform::UnitStartOutcome::NoSystemd},
  };
  for (const Row& r : rows) {
    WriteFileText(dir.File("show"), r.show);
    EXPECT_EQ(StartServiceExplained("VigilNT"), r.outcome) << r.show;
  }
  std::string out;
  EXPECT_EQ(platform::RunProgramOutput({"/bin/sh", "-c", "printf 'a=1\\nb=2'; exit 3"}, 10000, &out), 3);
  EXPECT_EQ(out, "a=1\nb=2");
  platform::SetServicePrivilegeCheck([] { return false; });
  EXPECT_EQ(StartServiceExplained("VigilNT"), platform::UnitStartOutcome::NotPrivileged);
  platform::SetServicePrivilegeCheck(nullptr);
  unsetenv("VIGIL_SYSTEMCTL");
}

}  // namespace
