#include "platform/mail_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

using platform::LoadMailSettings;
using platform::MailSettings;
using platform::MailSettingsSource;
using platform::MailTls;
using platform::ParseMailSettings;
using testing_support::TempDir;
using testing_support::WriteFileText;

TEST(MailSettings, EmptyTextGivesDefaults) {
  MailSettings s;
  std::string error;
  ASSERT_TRUE(ParseMailSettings("", s, error));
  EXPECT_EQ(s.server, "localhost");
  EXPECT_EQ(s.port, 25);
  EXPECT_EQ(s.from.rfind("vigil@", 0), 0u);
  EXPECT_TRUE(platform::IsValidMailAddress(s.from, true));
  EXPECT_EQ(s.tls, MailTls::kNone);
  EXPECT_EQ(s.connectTimeoutSeconds, 10);
  EXPECT_EQ(s.timeoutSeconds, 60);
}

TEST(MailSettings, AByteOrderMarkBeforeTheFirstLineIsSkipped) {
  for (const char* text : {"\xEF\xBB\xBFserver = mail.example.com\n", "\xEF\xBB\xBF# mail\nserver = mail.example.com"}) {
    MailSettings s;
    std::string error;
    EXPECT_TRUE(ParseMailSettings(text, s, error)) << error;
    EXPECT_EQ(s.server, "mail.example.com");
  }
}

TEST(MailSettings, ReadsEveryKeyAndTheAddressBook) {
  MailSettings s;
  std::string error;
  const char* text =
      "# mail for the UPS agent\r\n"
      "  Server = mail.example.com \r\n"
      "\r\n"
      "; credentials\n"
      "from=ups@example.com\n"
      "user = ups agent\n"
      "password = p=ss word\n"
      "tls = SMTPS\n"
      "tls_verify = no\n"
      "ca_file = /etc/ssl/ca.pem\n"
      "connect_timeout = 3\n"
      "timeout = 120\n"
      "alias John \t Smith = john.smith@example.com\n"
      "alias\toperator = root\n";
  ASSERT_TRUE(ParseMailSettings(text, s, error)) << error;
  EXPECT_EQ(s.server, "mail.example.com");
  EXPECT_EQ(s.port, 465);  // smtps without a port
  EXPECT_EQ(s.from, "ups@example.com");
  EXPECT_EQ(s.user, "ups agent");
  EXPECT_EQ(s.password, "p=ss word");
  EXPECT_EQ(s.tls, MailTls::kSmtps);
  EXPECT_FALSE(s.tlsVerify);
  EXPECT_EQ(s.caFile, "/etc/ssl/ca.pem");
  EXPECT_EQ(s.connectTimeoutSeconds, 3);
  EXPECT_EQ(s.timeoutSeconds, 120);
  EXPECT_EQ(s.LookUpAlias("JOHN SMITH").value_or(""), "john.smith@example.com");
  EXPECT_EQ(s.LookUpAlias("operator").value_or(""), "root");
  EXPECT_FALSE(s.LookUpAlias("Jane").has_value());
}

TEST(MailSettings, BadLinesAreRefusedWithTheirLineNumber) {
  struct Case {
    std::string text;
    std::string error;
  } cases[] = {
      {"port = 0", "line 1: port must be 1 to 65535"},
      {"port = 65536", "line 1: port must be 1 to 65535"},
      {"port = 25x", "line 1: port must be 1 to 65535"},
      {"port = 99999999999999999999", "line 1: port must be 1 to 65535"},
      {"# c\nport = 25\nport = 26", "line 3: 'port' given twice"},
      {"tls = maybe", "line 1: tls must be none, starttls or smtps"},
      {"from = ups agent", "line 1: invalid sender address"},
      {"from = a@b@c", "line 1: invalid sender address"},
      {"from = ups", "line 1: invalid sender address"},
      {"server = host/path", "line 1: invalid server name"},
      {"server = a@b", "line 1: invalid server name"},
      {"server =", "line 1: invalid server name"},
      {"timeout = 0", "line 1: timeout must be 1 to 3600 seconds"},
      {"connect_timeout = 301", "line 1: connect_timeout must be 1 to 300 seconds"},
      {"colour = blue", "line 1: unknown key 'colour'"},
      {"just words", "line 1: expected key = value"},
      {"user = a\x1b[2Jb", "line 1: contains a control character"},
      {std::string("user = a\0b", 10), "line 1: contains a NUL byte"},
      {"alias Boss = the boss", "line 1: alias 'boss': invalid address"},
      {"alias Boss = a@b\nalias BOSS = c@d", "line 2: alias 'boss' given twice"},
      {std::string(70000, '#'), "file too large"},
  };
  for (const auto& c : cases) {
    MailSettings s;
    s.server = "unchanged";
    std::string error;
    EXPECT_FALSE(ParseMailSettings(c.text, s, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(s.server, "unchanged");
  }
}

TEST(MailSettings, AddressCheck) {
  for (const char* good : {"a@b", "john.smith+ups@mail.example.com", "o'brien@x.test"}) {
    EXPECT_TRUE(platform::IsValidMailAddress(good, true)) << good;
  }
  EXPECT_TRUE(platform::IsValidMailAddress("root", false));
  for (const char* bad : {"", "root", "@b", "a@", "a@@b", "a b@c", "a@b c", "<a@b>", "a@b\r\nRCPT TO:<c@d>",
                          ".a@b", "a..b@c", "a@b..c", "a@.b", "\"a\"@b", "a@[1.2.3.4]"}) {
    EXPECT_FALSE(platform::IsValidMailAddress(bad, true)) << bad;
  }
  EXPECT_FALSE(platform::IsValidMailAddress(std::string(250, 'a') + "@b.c", true));
}

TEST(MailSettings, LoadsFromTheWorkingDirectoryOrTheEnvironment) {
  TempDir dir;
  ::unsetenv(platform::kMailSettingsEnv);
  MailSettings s;
  std::string error;
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kDefaults);
  EXPECT_EQ(s.server, "localhost");

  WriteFileText("mail.conf", "server = 127.0.0.1\nport = 2525\n");
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kFile);
  EXPECT_EQ(s.port, 2525);

  WriteFileText("mail.conf", "server = 127.0.0.1\nport = 2525\nprot = 1\n");
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kInvalid);
  EXPECT_EQ(error, "mail.conf: line 3: unknown key 'prot'");

  std::filesystem::remove("mail.conf");
  std::filesystem::create_directory("mail.conf");
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kInvalid);

  // A file named by the environment must exist: no silent fall-back to the defaults.
  ::setenv(platform::kMailSettingsEnv, dir.File("other.conf").c_str(), 1);
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kInvalid);
  EXPECT_NE(error.find("other.conf"), std::string::npos);
  WriteFileText("other.conf", "port = 587\n");
  EXPECT_EQ(LoadMailSettings(s, error), MailSettingsSource::kFile);
  EXPECT_EQ(s.port, 587);
  ::unsetenv(platform::kMailSettingsEnv);
}
