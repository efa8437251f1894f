#include "mailsender/tremmail.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/mail_message.h"
#include "platform/mail_settings.h"
#include "tests/support/smtp_test_server.h"
#include "tests/support/test_support.h"

extern char** environ;

using testing_support::ReadFileText;
using testing_support::SmtpTestServer;
using testing_support::TempDir;
using testing_support::WriteFileText;

namespace {

const std::string kAdvice =
    "\n\n1) Verify that a valid E-mail solution is installed.\n\n"
    "2) Verify that a default MAPI user profile is properly configured.";

struct Outcome {
  int exitCode = -1;
  std::string err;
};

// Runs the mail sender in the working directory with these arguments.
Outcome RunTremmail(std::vector<std::string> args) {
  args.insert(args.begin(), TREMMAIL_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "tremmail.err", O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  Outcome run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.err = ReadFileText("tremmail.err");
  return run;
}

TEST(Tremmail, MailTextIsTheFirstLineOfAtMost80Characters) {
  struct Case {
    std::string file, text;
  } cases[] = {
      {"UPS on battery\nsecond line\n", "UPS on battery"},
      {"Hello", "Hello"},  // no line feed: nothing is cut off
      {"Hello\r\n", "Hello"},
      {"\nsecond", ""},
      {"", ""},
      {std::string(100, 'a') + "\n", std::string(80, 'a')},
      {std::string(80, 'b') + "\n", std::string(80, 'b')},
      {std::string("a\0b\n", 4), std::string("a\0b", 3)},
  };
  for (auto& c : cases) {
    std::FILE* f = ::fmemopen(c.file.data(), c.file.size(), "r");
    if (c.file.empty()) f = std::fopen("/dev/null", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(tremmail::ReadMailText(f), c.text) << c.file;
    std::fclose(f);
  }
}

TEST(Tremmail, FailureTexts) {
  EXPECT_EQ(kAdvice.size(), 122u);
  EXPECT_EQ(tremmail::kAdvice, kAdvice);
  EXPECT_EQ(tremmail::SendFailureText(platform::MAPI_E_UNKNOWN_RECIPIENT),
            "MAPI SendMail Error!  Unknown Recipient!" + kAdvice);
  EXPECT_EQ(tremmail::SendFailureText(platform::MAPI_E_INVALID_RECIPS),
            "MAPI SendMail Error!  Invalid Recipient(s)!" + kAdvice);
  EXPECT_EQ(tremmail::SendFailureText(4), "MAPI SendMail Error! " + kAdvice);
  EXPECT_EQ(tremmail::LogonFailureText(platform::MAPI_E_FAILURE), "MAPI Failure!" + kAdvice);
  EXPECT_EQ(tremmail::LogonFailureText(platform::MAPI_E_TOO_MANY_SESSIONS),
            "MAPI Logon Failure! Too Many Open Sessions!" + kAdvice);
  EXPECT_EQ(tremmail::LogonFailureText(7), "MAPI Logon Failure!" + kAdvice);
}

class TremmailProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv(platform::kMailSettingsEnv);
    ASSERT_TRUE(server_.Running());
    WriteFileText("mail.conf", server_.SettingsText("alias John Smith = john@x.test\n"));
  }

  TempDir dir_;
  SmtpTestServer server_{{{"nobody@x.test"}, "", 0}};
};

TEST_F(TremmailProgram, SendsTheFirstLineToTheWholeCommandLine) {
  WriteFileText("tremmail.txt", "UPS on battery\nsecond line\n");
  Outcome run = RunTremmail({"John", "Smith"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "");
  auto mail = server_.Messages();
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].from, "agent@ups.test");
  EXPECT_EQ(mail[0].to, std::vector<std::string>{"john@x.test"});
  EXPECT_EQ(mail[0].Header("To"), "\"John Smith\" <john@x.test>");
  EXPECT_EQ(mail[0].Header("Subject"), "Tremona Mail System");
  EXPECT_EQ(mail[0].Body(), "UPS on battery\r\n");

  // An empty file sends an empty text.
  WriteFileText("tremmail.txt", "");
  EXPECT_EQ(RunTremmail({"ops@x.test"}).exitCode, 1);
  ASSERT_EQ(server_.Messages().size(), 2u);
  EXPECT_EQ(server_.Messages()[1].Body(), "");
}

TEST_F(TremmailProgram, EachFailureReportsOnceAndExitsWithZero) {
  Outcome run = RunTremmail({"ops@x.test"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "Tremona Mail Error: Couldn't open tremmail.txt\n");

  WriteFileText("tremmail.txt", "Low battery\n");
  run = RunTremmail({"nobody@x.test"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.rfind(
                "Tremona Mail Error: MAPI SendMail Error!  Unknown Recipient!" + kAdvice + "\nTremmail: ", 0),
            0u)
      << run.err;

  run = RunTremmail({"Jane", "Doe"});  // not in the address book
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.err.find("Unknown Recipient!"), std::string::npos) << run.err;

  WriteFileText("mail.conf", server_.SettingsText("port = 25\n"));
  run = RunTremmail({"ops@x.test"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(
      run.err,
      "Tremona Mail Error: Couldn't find MAPI profile\nTremmail: mail.conf: line 6: 'port' given twice\n");
  EXPECT_TRUE(server_.Messages().empty());

  WriteFileText("mail.conf", server_.SettingsText());
  server_.Stop();
  run = RunTremmail({"ops@x.test"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.rfind(
                "Tremona Mail Error: MAPI SendMail Error!  General Failure!" + kAdvice + "\nTremmail: ", 0),
            0u)
      << run.err;
}

}  // namespace
