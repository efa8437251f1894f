// A real SMTP server on a loopback port for the mail tests (tools/smtp_sink.py run by
// /usr/bin/python3), and the mail it received.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

struct ReceivedMail {
  std::string from;             // envelope sender
  std::vector<std::string> to;  // envelope recipients, in order
  std::string auth;             // login the client authenticated with, or ""
  std::string content;          // the message as received (CRLF line ends)

  // The header block and the body (split at the first empty line).
  std::string Headers() const;
  std::string Body() const;
  // The value of the first header field of that name (continuation lines unfolded), or "".
  std::string Header(const std::string& name) const;
};

class SmtpTestServer {
 public:
  struct Options {
    std::vector<std::string> reject;  // recipients answered with 550
    std::string auth;                 // "login:password": require authentication
    size_t maxSize = 0;               // refuse larger messages (552)
  };

  SmtpTestServer();
  explicit SmtpTestServer(const Options& options);
  ~SmtpTestServer();
  SmtpTestServer(const SmtpTestServer&) = delete;
  SmtpTestServer& operator=(const SmtpTestServer&) = delete;

  // True once the server listens; port() is then its port.
  bool Running() const { return pid_ > 0 && port_ > 0; }
  int port() const { return port_; }
  // Stops the server (the port is then refused).
  void Stop();

  // Every message received so far, in order of arrival.
  std::vector<ReceivedMail> Messages() const;

  // Mail settings text that points at this server, with `extra` lines appended.
  std::string SettingsText(const std::string& extra = "") const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
