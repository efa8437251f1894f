// SMTP delivery through libcurl, in the place of the Windows messaging system's Simple MAPI.
//
// The steps mirror what mail callers do with Simple MAPI:
//   MailSystemPresent()  the mail library is there (libcurl offers SMTP)       ~ MAPI32.DLL found
//   MailInitialize()     process-wide start of the mail library              ~ MAPIInitialize
//   SmtpSession::Logon   a transfer handle set up from the mail settings     ~ MAPILogon
//   SmtpSession::Send    resolve recipients, compose, deliver one message    ~ MAPISendMail
//   SmtpSession::Logoff  close the connection and the handle                 ~ MAPILogoff
//
// Failures come back as Simple MAPI result codes (mail_message.h):
//   unreachable server, time-out, protocol error, other refusal -> MAPI_E_FAILURE
//   authentication refused or required, TLS not obtained         -> MAPI_E_LOGIN_FAILURE
//   RCPT refused 450/550/551 -> MAPI_E_UNKNOWN_RECIPIENT, 452 -> MAPI_E_TOO_MANY_RECIPIENTS,
//   501/553/555 -> MAPI_E_INVALID_RECIPS
//   message size refused (552 on MAIL or after the data)        -> MAPI_E_TEXT_TOO_LARGE
//   out of memory                                                -> MAPI_E_INSUFFICIENT_MEMORY
//   protocol or option missing from the library at run time      -> MAPI_E_NOT_SUPPORTED
// Connecting and the whole transfer are bounded by the settings' time-outs. Proxies from the
// environment are never used; only the smtp and smtps protocols are allowed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/mail_message.h"
#include "platform/mail_settings.h"

namespace platform {

// True when the mail library at run time can send SMTP (and, when `tls` asks for it, TLS).
bool MailSystemPresent(MailTls tls = MailTls::kNone);

// Starts the mail library once per process; SUCCESS_SUCCESS or MAPI_E_FAILURE.
unsigned long MailInitialize();

// Maps the outcome of one transfer onto a Simple MAPI result: `curlCode` is the transfer's
// result, `lastCommand` the verb of the last SMTP command sent ("MAIL", "RCPT", "DATA", ...),
// `lastReply` the server's last reply code (0 when none), `dataSent` whether the server had
// accepted DATA (354), so that a refusal belongs to the message rather than to the command.
unsigned long MapSmtpFailure(int curlCode, std::string_view lastCommand, int lastReply, bool dataSent);

class SmtpSession {
 public:
  SmtpSession();
  ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Prepares the transfer handle: SUCCESS_SUCCESS, MAPI_E_INSUFFICIENT_MEMORY, or
  // MAPI_E_NOT_SUPPORTED when the library lacks something the settings need.
  unsigned long Logon(const MailSettings& settings);
  // Sends one message after Logon; `now` dates it (seconds since 1970).
  unsigned long Send(const MailMessage& message, int64_t now);
  // Ends the session (also done by the destructor).
  void Logoff();

  // What went wrong in the last failed step, for traces and error lines ("" after success).
  const std::string& Detail() const { return detail_; }

 private:
  unsigned long Deliver(const MailMessage& message, int64_t now);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  MailSettings settings_;
  std::string detail_;
};

}  // namespace platform
