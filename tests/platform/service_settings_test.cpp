// The agent's service settings file: keys, defaults, refusal of bad lines, and where the data
// directory comes from.
#include "platform/service_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/test_support.h"

namespace {

using platform::ParseServiceSettings;
using platform::ServiceSettings;

TEST(ServiceSettings, DefaultsAndEveryKey) {
  ServiceSettings s;
  std::string error;
  ASSERT_TRUE(ParseServiceSettings("", s, error));
  EXPECT_EQ(s.shutdownCommand, "shutdown -h now");
  EXPECT_EQ(s.snmpService, "snmp");
  EXPECT_TRUE(s.userTerminals);
  EXPECT_EQ(s.commandUser, "nobody");
  ASSERT_TRUE(ParseServiceSettings("# agent\r\n"
                                   "data_directory = /var/lib/vigil\n"
                                   "  TRACE_FILE=/var/log/vigil.trace  \n"
                                   "shutdown_command = /bin/true \"now please\"\n"
                                   "reboot_command = /bin/false\n"
                                   "sound_player = aplay -q\n"
                                   "saver_command = saver\n"
                                   "snmp_service =\n"
                                   "bind_address = 127.0.0.2\n"
                                   "; comment\n"
                                   "command_user = ups-ops\n"
                                   "user_terminals = no",
                                   s, error))
      << error;
  EXPECT_EQ(s.dataDirectory, "/var/lib/vigil");
  EXPECT_EQ(s.traceFile, "/var/log/vigil.trace");
  EXPECT_EQ(s.shutdownCommand, "/bin/true \"now please\"");
  EXPECT_EQ(s.rebootCommand, "/bin/false");
  EXPECT_EQ(s.soundPlayer, "aplay -q");
  EXPECT_EQ(s.snmpService, "");
  EXPECT_EQ(s.bindAddress, "127.0.0.2");
  EXPECT_FALSE(s.userTerminals);
  EXPECT_EQ(s.commandUser, "ups-ops");
}

TEST(ServiceSettings, BadLinesRefuseTheWholeFile) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"data_directory = relative/dir", "line 1: data_directory must be an absolute path"},
      {"data_directory = /var/../etc", "line 1: data_directory must be an absolute path"},
      {"\n\nshutdown_command = \"unclosed", "line 3: shutdown_command is not a command"},
      {"shutdown_command =", "line 1: shutdown_command is not a command"},
      {"bind_address = example.com", "line 1: bind_address must be an IPv4 address"},
      {"snmp_service = -x", "line 1: snmp_service is not a service name"},
      {"user_terminals = maybe", "line 1: user_terminals must be yes or no"},
      {"command_user =", "line 1: command_user must be a user name"},
      {"command_user = -root", "line 1: command_user must be a user name"},
      {"command_user = root nobody", "line 1: command_user must be a user name"},
      {"colour = blue", "line 1: unknown key \"colour\""},
      {"no equals sign", "line 1: expected key = value"},
      {"saver_command = a\nsaver_command = b", "line 2: \"saver_command\" given twice"},
      {"trace_file = /x\x01y", "line 1: control character"},
  };
  for (const auto& c : cases) {
    ServiceSettings s;
    s.saverCommand = "kept";
    std::string error;
    EXPECT_FALSE(ParseServiceSettings(c.text, s, error)) << c.text;
    EXPECT_EQ(error, c.why);
    EXPECT_EQ(s.saverCommand, "kept");
  }
}

// Editors that write a UTF-8 byte-order mark put it before the first key: the file reads as
// without it, whatever its first line is.
TEST(ServiceSettings, AByteOrderMarkBeforeTheFirstLineIsSkipped) {
  const struct {
    const char* text;
    const char* saverCommand;
  } cases[] = {
      {"\xEF\xBB\xBFsaver_command = /bin/true", "/bin/true"},
      {"\xEF\xBB\xBF# settings\r\nsaver_command = /bin/true\r\n", "/bin/true"},
      {"\xEF\xBB\xBF  saver_command=x", "x"},
      {"\xEF\xBB\xBF", "saver"},
  };
  for (const auto& c : cases) {
    ServiceSettings s;
    std::string error;
    EXPECT_TRUE(ParseServiceSettings(c.text, s, error)) << c.text << ": " << error;
    EXPECT_EQ(s.saverCommand, c.saverCommand) << c.text;
  }
}

TEST(ServiceSettings, ThePackagesSampleListensOnLoopbackOnly) {
  // The package installs the sample as the service's settings: it must start the agent, and
  // keep its unauthenticated port off the network until the administrator opens it.
  ServiceSettings s;
  std::string error;
  ASSERT_TRUE(ParseServiceSettings(testing_support::ReadFileText(VIGIL_SETTINGS_SAMPLE), s, error)) << error;
  EXPECT_EQ(s.bindAddress, "127.0.0.1");
  EXPECT_EQ(s.commandUser, "nobody");
}

TEST(ServiceSettings, FileFromEnvironmentMustExist) {
  testing_support::TempDir dir;
  setenv(platform::kServiceSettingsEnv, dir.File("missing.conf").c_str(), 1);
  ServiceSettings s;
  std::string error;
  EXPECT_FALSE(platform::LoadServiceSettings(s, error));
  EXPECT_NE(error.find("missing.conf"), std::string::npos);
  testing_support::WriteFileText(dir.File("agent.conf"), "data_directory = /srv/ups\n");
  setenv(platform::kServiceSettingsEnv, dir.File("agent.conf").c_str(), 1);
  ASSERT_TRUE(platform::LoadServiceSettings(s, error)) << error;
  EXPECT_EQ(s.dataDirectory, "/srv/ups");
  unsetenv(platform::kServiceSettingsEnv);
}

TEST(ServiceSettings, DataDirectoryPrecedence) {
  ServiceSettings s;
  unsetenv(platform::kDataDirectoryEnv);
  EXPECT_EQ(platform::ResolveDataDirectory(s), platform::ProgramDirectory());
  EXPECT_NE(platform::ProgramDirectory(), ".");
  s.dataDirectory = "/srv/ups";
  EXPECT_EQ(platform::ResolveDataDirectory(s), "/srv/ups");
  setenv(platform::kDataDirectoryEnv, "/tmp/elsewhere", 1);
  EXPECT_EQ(platform::ResolveDataDirectory(s), "/tmp/elsewhere");
  unsetenv(platform::kDataDirectoryEnv);
}

}  // namespace
