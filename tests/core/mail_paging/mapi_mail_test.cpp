#include "core/mail_paging/mapi_mail.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/smtp_test_server.h"
#include "tests/support/test_support.h"

using testing_support::SmtpTestServer;
using testing_support::TempDir;
using testing_support::TraceCapture;
using testing_support::WriteFileText;

namespace {

class MapiMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv(platform::kMailSettingsEnv);
    ASSERT_TRUE(server_.Running());
    WriteFileText("mail.conf", server_.SettingsText("alias Night Shift = night@x.test\n"));
  }

  TempDir dir_;
  SmtpTestServer server_{{{"gone@x.test"}, "", 0}};
};

TEST_F(MapiMailTest, LimitsOfRecipientsAndAttachments) {
  MapiMail mail;
  EXPECT_EQ(mail.AddRecipient(nullptr, "a@x.test", 0), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(mail.AddRecipient("ops@x.test", "ops@x.test", i % 2), 1);
  EXPECT_EQ(mail.AddRecipient("eleventh@x.test", "eleventh@x.test", 0), 0);
  EXPECT_EQ(mail.AddBccRecipient("eleventh@x.test", nullptr), 0);
  EXPECT_EQ(mail.RecipientCount(), 10);

  EXPECT_EQ(mail.AddAttachment(nullptr), 0);
  EXPECT_EQ(mail.AddAttachment(""), 0);
  EXPECT_EQ(mail.AddAttachment(std::string(5000, 'f').c_str()), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(mail.AddAttachment("config.dat"), 1);
  EXPECT_EQ(mail.AddAttachment("config.dat"), 0);
  mail.ClearAttachments();
  mail.ClearRecipients();
  EXPECT_EQ(mail.AttachmentCount() + mail.RecipientCount(), 0);
}

TEST_F(MapiMailTest, SendsSubjectTextRecipientsAndAttachment) {
  WriteFileText("error.txt", "power failed\n");
  MapiMail mail;
  EXPECT_EQ(mail.Send("no one", "text"), 0);  // no recipients: nothing is sent
  ASSERT_EQ(mail.AddRecipient("Night Shift", "Night Shift", 0), 1);
  ASSERT_EQ(mail.AddRecipient("Admin", "SMTP:admin@x.test", 0), 1);
  ASSERT_EQ(mail.AddBccRecipient("audit@x.test", "audit@x.test"), 1);
  ASSERT_EQ(mail.AddAttachment("error.txt", "UPS errors.txt"), 1);
  ASSERT_EQ(mail.Send("Power failure\r\nBcc: victim@x.test", "The UPS runs on battery."), 1);

  auto received = server_.Messages();
  ASSERT_EQ(received.size(), 1u);
  const auto& m = received[0];
  EXPECT_EQ(m.to, (std::vector<std::string>{"night@x.test", "admin@x.test", "audit@x.test"}));
  EXPECT_EQ(m.Header("To"), "\"Night Shift\" <night@x.test>, \"Admin\" <admin@x.test>");
  EXPECT_EQ(m.Header("Subject"), "Power failure Bcc: victim@x.test");
  EXPECT_EQ(m.Header("Bcc"), "");
  EXPECT_EQ(m.content.find("audit"), std::string::npos);
  EXPECT_NE(m.content.find("\r\n\r\nThe UPS runs on battery.\r\n"), std::string::npos);
  EXPECT_NE(m.content.find("filename=\"UPS errors.txt\""), std::string::npos);
  EXPECT_NE(m.content.find("cG93ZXIgZmFpbGVkCg=="), std::string::npos);  // "power failed\n"
}

TEST_F(MapiMailTest, FailuresSendNothingAndAreTraced) {
  TraceCapture trace;
  MapiMail missing;
  missing.AddRecipient("ops@x.test", "ops@x.test", 0);
  missing.AddAttachment("not-there.log");
  EXPECT_EQ(missing.Send("s", "t"), 0);
  EXPECT_TRUE(trace.Contains("not-there.log")) << trace.Text();

  MapiMail refused;
  refused.AddRecipient("ops@x.test", "ops@x.test", 0);
  refused.AddRecipient("gone@x.test", "gone@x.test", 0);
  EXPECT_EQ(refused.Send("s", "t"), 0);

  MapiMail unknown;
  unknown.AddRecipient("Day Shift", "", 0);
  EXPECT_EQ(unknown.Send("s", "t"), 0);
  EXPECT_TRUE(server_.Messages().empty());

  // A bad settings file never sends to a half-read server.
  WriteFileText("mail.conf", server_.SettingsText("tls = sometimes\n"));
  MapiMail fine;
  fine.AddRecipient("ops@x.test", "ops@x.test", 0);
  EXPECT_EQ(fine.Send(nullptr, nullptr), 0);
  EXPECT_TRUE(trace.Contains("mail.conf: line 6")) << trace.Text();
  EXPECT_TRUE(server_.Messages().empty());

  WriteFileText("mail.conf", server_.SettingsText());
  server_.Stop();
  EXPECT_EQ(fine.Send(nullptr, nullptr), 0);
  EXPECT_TRUE(trace.Contains("send failed (2)")) << trace.Text();
}

}  // namespace
