#include "platform/smtp_session.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/support/smtp_test_server.h"
#include "tests/support/test_support.h"

using namespace platform;
using testing_support::SmtpTestServer;
using testing_support::TempDir;
using testing_support::WriteFileText;

namespace {

std::string Base64Decode(const std::string& in) {
  static const std::string table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : in) {
    size_t v = table.find(c);
    if (v == std::string::npos) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string QuotedPrintableDecode(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '=' && in.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else if (in[i] == '=' && i + 2 < in.size()) {
      out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

// Every line of the header block is a field "Name: value" or a continuation, and no line of
// the whole message is longer than 998 characters.
void ExpectWellFormed(const std::string& message) {
  std::string headers = message.substr(0, message.find("\r\n\r\n") + 2);
  std::regex field("^([A-Za-z-]+:( .*)?| .+)$");
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t eol = headers.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos);
    std::string line = headers.substr(pos, eol - pos);
    EXPECT_TRUE(std::regex_match(line, field)) << "bad header line: " << line;
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    pos = eol + 2;
  }
  for (size_t p = 0, e; (e = message.find("\r\n", p)) != std::string::npos; p = e + 2) EXPECT_LE(e - p, 998u);
}

class SmtpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv(kMailSettingsEnv); }

  MailSettings SettingsFor(const SmtpTestServer& server, const std::string& extra = "") {
    MailSettings s;
    std::string error;
    EXPECT_TRUE(ParseMailSettings(server.SettingsText(extra), s, error)) << error;
    return s;
  }

  unsigned long SendVia(const MailSettings& s, const MailMessage& m, std::string* detail = nullptr) {
    SmtpSession session;
    unsigned long rc = session.Logon(s);
    if (rc == SUCCESS_SUCCESS) rc = session.Send(m, 1700000000);
    if (detail != nullptr) *detail = session.Detail();
    return rc;
  }

  static MailMessage To(const std::string& who) {
    MailMessage m;
    m.subject = "UPS alarm";
    m.noteText = "On battery";
    m.recips.push_back({MAPI_TO, who, ""});
    return m;
  }
};

TEST_F(SmtpSessionTest, RecipientResolution) {
  MailSettings s;
  std::string error;
  ASSERT_TRUE(ParseMailSettings("alias John Smith = john@x.test\n", s, error));
  struct Case {
    unsigned long cls;
    std::string name, address;
    unsigned long rc;
    std::string resolved;
  } cases[] = {
      {MAPI_TO, "john@x.test", "", SUCCESS_SUCCESS, "john@x.test"},
      {MAPI_TO, "John", "SMTP:john@x.test", SUCCESS_SUCCESS, "john@x.test"},
      {MAPI_CC, "John <john@x.test>", "", SUCCESS_SUCCESS, "john@x.test"},
      {MAPI_BCC, "john smith", "", SUCCESS_SUCCESS, "john@x.test"},
      {MAPI_TO, "root", "", SUCCESS_SUCCESS, "root"},
      {MAPI_TO, "Jane Doe", "", MAPI_E_UNKNOWN_RECIPIENT, ""},
      {MAPI_TO, "", "", MAPI_E_UNKNOWN_RECIPIENT, ""},
      {MAPI_TO, "a@b@c", "", MAPI_E_INVALID_RECIPS, ""},
      {MAPI_TO, "a@x.test>\r\nRCPT TO:<evil@x.test", "", MAPI_E_INVALID_RECIPS, ""},
      {MAPI_TO, "a@x.test\nDATA", "", MAPI_E_INVALID_RECIPS, ""},
      {7, "john@x.test", "", MAPI_E_BAD_RECIPTYPE, ""},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(ResolveMailRecipient(s, {c.cls, c.name, c.address}, out), c.rc) << c.name;
    if (c.rc == SUCCESS_SUCCESS) {
      EXPECT_EQ(out, c.resolved) << c.name;
    }
  }
}

TEST_F(SmtpSessionTest, CallerTextsCannotAddHeaderLines) {
  MailSettings s;
  std::string error;
  ASSERT_TRUE(ParseMailSettings("from = agent@ups.test\n", s, error));
  MailMessage m;
  m.subject = "Alarm\r\nBcc: victim@x.test\r\n\r\nforged body";
  m.noteText = "text";
  m.recips.push_back({MAPI_TO, "Ops\r\nBcc: victim@x.test", "ops@x.test"});
  m.recips.push_back({MAPI_CC, "Dr. \"Q\" \\ Boss", "boss@x.test"});
  std::string out;
  ASSERT_EQ(ComposeMailMessage(s, m, {"ops@x.test", "boss@x.test"}, 1700000000, out, error), SUCCESS_SUCCESS);
  ExpectWellFormed(out);
  EXPECT_NE(out.find("\r\nSubject: Alarm Bcc: victim@x.test forged body\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\r\nTo: \"Ops Bcc: victim@x.test\" <ops@x.test>\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\r\nCc: \"Dr. \\\"Q\\\" \\\\ Boss\" <boss@x.test>\r\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\r\nBcc:"), std::string::npos);
}

TEST_F(SmtpSessionTest, NonAsciiAndLongTextsAreEncodedLosslessly) {
  MailSettings s;
  std::string error;
  ASSERT_TRUE(ParseMailSettings("", s, error));
  MailMessage m;
  m.subject =
      "Stromausfall in Gr\xC3\xBC"
      "nwald " +
      std::string(100, 'x');
  m.noteText = "caf\xE9 = 3 \t\nline two \n" + std::string(2000, 'y') + "\n.\nend";
  m.recips.push_back({MAPI_TO, "a@x.test", ""});
  std::string out;
  ASSERT_EQ(ComposeMailMessage(s, m, {"a@x.test"}, 1700000000, out, error), SUCCESS_SUCCESS);
  ExpectWellFormed(out);
  // The subject as RFC 2047 words that decode to the original.
  std::smatch match;
  std::string headers = out.substr(0, out.find("\r\n\r\n"));
  std::string decoded;
  std::regex word("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]+)\\?=");
  for (auto it = std::sregex_iterator(headers.begin(), headers.end(), word); it != std::sregex_iterator();
       ++it) {
    decoded += Base64Decode((*it)[1]);
  }
  EXPECT_EQ(decoded, m.subject);
  // The text is not UTF-8 (a Latin-1 e-acute) and has a 2000-character line.
  EXPECT_NE(
      out.find("Content-Type: text/plain; charset=ISO-8859-1\r\nContent-Transfer-Encoding: quoted-printable"),
      std::string::npos);
  std::string body = out.substr(out.find("\r\n\r\n") + 4);
  std::string expected = "caf\xE9 = 3 \t\r\nline two \r\n" + std::string(2000, 'y') + "\r\n.\r\nend\r\n";
  EXPECT_EQ(QuotedPrintableDecode(body), expected);
}

TEST_F(SmtpSessionTest, FailureMapping) {
  struct Case {
    int curl;
    const char* command;
    int reply;
    bool data;
    unsigned long rc;
  } cases[] = {
      {CURLE_OK, "DATA", 250, true, SUCCESS_SUCCESS},
      {CURLE_COULDNT_CONNECT, "", 0, false, MAPI_E_FAILURE},
      {CURLE_OPERATION_TIMEDOUT, "EHLO", 0, false, MAPI_E_FAILURE},
      {CURLE_LOGIN_DENIED, "AUTH", 535, false, MAPI_E_LOGIN_FAILURE},
      {CURLE_USE_SSL_FAILED, "EHLO", 250, false, MAPI_E_LOGIN_FAILURE},
      {CURLE_SEND_ERROR, "MAIL", 530, false, MAPI_E_LOGIN_FAILURE},
      {CURLE_SEND_ERROR, "RCPT", 550, false, MAPI_E_UNKNOWN_RECIPIENT},
      {CURLE_SEND_ERROR, "RCPT", 452, false, MAPI_E_TOO_MANY_RECIPIENTS},
      {CURLE_SEND_ERROR, "RCPT", 553, false, MAPI_E_INVALID_RECIPS},
      {CURLE_SEND_ERROR, "RCPT", 421, false, MAPI_E_FAILURE},
      {CURLE_SEND_ERROR, "MAIL", 552, false, MAPI_E_TEXT_TOO_LARGE},
      {CURLE_SEND_ERROR, "DATA", 552, true, MAPI_E_TEXT_TOO_LARGE},
      {CURLE_SEND_ERROR, "DATA", 554, false, MAPI_E_FAILURE},
      {CURLE_OUT_OF_MEMORY, "", 0, false, MAPI_E_INSUFFICIENT_MEMORY},
      {CURLE_UNSUPPORTED_PROTOCOL, "", 0, false, MAPI_E_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapSmtpFailure(c.curl, c.command, c.reply, c.data), c.rc)
        << c.curl << " " << c.command << c.reply;
  }
}

TEST_F(SmtpSessionTest, DeliversToEveryRecipientAndShowsNoBlindCopy) {
  SmtpTestServer server;
  ASSERT_TRUE(server.Running());
  MailMessage m = To("ops@x.test");
  m.noteText = "line one\n.\n..two\nlast";
  m.recips.push_back({MAPI_CC, "Boss", "boss@x.test"});
  m.recips.push_back({MAPI_BCC, "hidden@x.test", ""});
  ASSERT_EQ(SendVia(SettingsFor(server), m), SUCCESS_SUCCESS);
  auto mail = server.Messages();
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].from, "agent@ups.test");
  EXPECT_EQ(mail[0].to, (std::vector<std::string>{"ops@x.test", "boss@x.test", "hidden@x.test"}));
  EXPECT_EQ(mail[0].Header("To"), "ops@x.test");
  EXPECT_EQ(mail[0].Header("Cc"), "\"Boss\" <boss@x.test>");
  EXPECT_EQ(mail[0].Header("Subject"), "UPS alarm");
  EXPECT_EQ(mail[0].content.find("hidden"), std::string::npos);
  // Lines made of dots survive the SMTP end-of-data convention.
  EXPECT_EQ(mail[0].Body(), "line one\r\n.\r\n..two\r\nlast\r\n");
  ExpectWellFormed(mail[0].content);
}

TEST_F(SmtpSessionTest, AttachmentsTravelIntactAndMissingOnesStopTheMail) {
  TempDir dir;
  SmtpTestServer server;
  ASSERT_TRUE(server.Running());
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>(i * 7 % 256);
  WriteFileText("events.dat", binary);
  MailMessage m = To("ops@x.test");
  m.files.push_back({dir.File("events.dat"), "UPS \"event\"\r\nlog.dat"});
  ASSERT_EQ(SendVia(SettingsFor(server), m), SUCCESS_SUCCESS);
  auto mail = server.Messages();
  ASSERT_EQ(mail.size(), 1u);
  ExpectWellFormed(mail[0].content);
  const std::string& c = mail[0].content;
  size_t part = c.find("Content-Disposition: attachment;\r\n filename*=UTF-8''UPS%20%22event%22%20log.dat");
  ASSERT_NE(part, std::string::npos) << c;
  size_t start = c.find("\r\n\r\n", part) + 4;
  size_t end = c.find("\r\n--=_vigil_", start);
  EXPECT_EQ(Base64Decode(c.substr(start, end - start)), binary);
  EXPECT_NE(mail[0].Body().find("On battery\r\n"), std::string::npos);

  m.files.push_back({dir.File("missing.dat"), ""});
  EXPECT_EQ(SendVia(SettingsFor(server), m), MAPI_E_ATTACHMENT_NOT_FOUND);
  m.files.back().path = dir.path().string();
  EXPECT_EQ(SendVia(SettingsFor(server), m), MAPI_E_ATTACHMENT_OPEN_FAILURE);
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpSessionTest, ServerRefusalsMapToTheirResults) {
  SmtpTestServer server({{"nobody@x.test"}, "ups:secret", 4000});
  ASSERT_TRUE(server.Running());
  std::string detail;
  EXPECT_EQ(SendVia(SettingsFor(server), To("ops@x.test")), MAPI_E_LOGIN_FAILURE);
  EXPECT_EQ(SendVia(SettingsFor(server, "user = ups\npassword = wrong\n"), To("ops@x.test")),
            MAPI_E_LOGIN_FAILURE);
  MailSettings good = SettingsFor(server, "user = ups\npassword = secret\n");
  EXPECT_EQ(SendVia(good, To("nobody@x.test"), &detail), MAPI_E_UNKNOWN_RECIPIENT);
  EXPECT_NE(detail.find("550"), std::string::npos) << detail;
  MailMessage big = To("ops@x.test");
  big.noteText = std::string(6000, 'z');
  EXPECT_EQ(SendVia(good, big), MAPI_E_TEXT_TOO_LARGE);
  EXPECT_TRUE(server.Messages().empty());
  ASSERT_EQ(SendVia(good, To("ops@x.test")), SUCCESS_SUCCESS);
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(server.Messages()[0].auth, "ups");
}

TEST_F(SmtpSessionTest, NoPlainTextWhenTlsIsRequiredAndNoServerIsAFailure) {
  SmtpTestServer server;
  ASSERT_TRUE(server.Running());
  // The test server offers no STARTTLS: the mail must not go out in the clear.
  EXPECT_EQ(SendVia(SettingsFor(server, "tls = starttls\nuser = ups\npassword = secret\n"), To("ops@x.test")),
            MAPI_E_LOGIN_FAILURE);
  EXPECT_TRUE(server.Messages().empty());
  server.Stop();
  std::string detail;
  EXPECT_EQ(SendVia(SettingsFor(server), To("ops@x.test"), &detail), MAPI_E_FAILURE);
  EXPECT_NE(detail.find("onnect"), std::string::npos) << detail;
}

TEST_F(SmtpSessionTest, SilentServerEndsInTheTransferTimeOut) {
  // A socket that listens but never answers: the connection completes, the greeting never comes.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  MailSettings s;
  std::string error;
  ASSERT_TRUE(ParseMailSettings("server = 127.0.0.1\nport = " + std::to_string(ntohs(addr.sin_port)) +
                                    "\nconnect_timeout = 1\ntimeout = 1\n",
                                s, error));
  std::string detail;
  EXPECT_EQ(SendVia(s, To("ops@x.test"), &detail), MAPI_E_FAILURE);
  EXPECT_NE(detail.find("timed out"), std::string::npos) << detail;
  ::close(fd);
}

}  // namespace
