#include "mailsender/tremmail.h"

#include <unistd.h>

#include "platform/clock.h"
#include "platform/mail_message.h"
#include "platform/mail_settings.h"
#include "platform/smtp_session.h"

namespace tremmail {

namespace {

// Longest recipient text shown in the terminal title.
constexpr size_t kMaxTitleArgument = 200;

// One error report: the text a message box would show, then the technical reason.
int Fail(std::FILE* err, const std::string& text, const std::string& detail = {}) {
  std::fprintf(err, "%s: %s\n", kErrorTitle, text.c_str());
  if (!detail.empty()) std::fprintf(err, "Tremmail: %s\n", detail.c_str());
  std::fflush(err);
  return 0;
}

std::string WrongVersion(const char* entry) {
  return std::string("Wrong version of MAPI32.DLL - doesn't contain ") + entry;
}

// Shows what is being done in the title of the terminal, when there is one. The recipient is
// cut short and cleared of control characters, so it cannot carry terminal commands.
void SetConsoleTitle(int argc, char** argv) {
  if (!::isatty(STDOUT_FILENO)) return;
  std::string who;
  if (argc > 1 && argv[1] != nullptr) {
    for (const char* p = argv[1]; *p != '\0' && who.size() < kMaxTitleArgument; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      who += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    }
  }
  std::printf("\033]0;Tremona is sending an email to %s\007", who.c_str());
  std::fflush(stdout);
}

}  // namespace

std::string ReadMailText(std::FILE* file) {
  std::string text;
  int c;
  while (text.size() < static_cast<size_t>(kMaxTextLength) && (c = std::getc(file)) != EOF) {
    text += static_cast<char>(c);
    if (c == '\n') break;
  }
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

std::string RecipientFromCommandLine(int argc, char** argv) {
  std::string recipient;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    if (i > 1) recipient += ' ';
    recipient += argv[i];
  }
  return recipient;
}

std::string LogonFailureText(unsigned long result) {
  switch (result) {
    case platform::MAPI_USER_ABORT:
      return std::string("MAPI Logon Failure! User Canceled!") + kAdvice;
    case platform::MAPI_E_FAILURE:
      return std::string("MAPI Failure!") + kAdvice;
    case platform::MAPI_E_INSUFFICIENT_MEMORY:
      return std::string("MAPI Logon Failure! Insufficient Memory!") + kAdvice;
    case platform::MAPI_E_TOO_MANY_SESSIONS:
      return std::string("MAPI Logon Failure! Too Many Open Sessions!") + kAdvice;
    default:
      return std::string("MAPI Logon Failure!") + kAdvice;
  }
}

std::string SendFailureText(unsigned long result) {
  const char* reason = nullptr;
  switch (result) {
    case platform::MAPI_USER_ABORT:
      reason = "User Cancel!";
      break;
    case platform::MAPI_E_FAILURE:
      reason = "General Failure!";
      break;
    case platform::MAPI_E_LOGIN_FAILURE:
      reason = "Logon Error!";
      break;
    case platform::MAPI_E_INSUFFICIENT_MEMORY:
      reason = "Insufficient Memory!";
      break;
    case platform::MAPI_E_TOO_MANY_FILES:
      reason = "Too Many Files!";
      break;
    case platform::MAPI_E_TOO_MANY_RECIPIENTS:
      reason = "Too Many Recipients!";
      break;
    case platform::MAPI_E_ATTACHMENT_NOT_FOUND:
      reason = "Attachment not Found!";
      break;
    case platform::MAPI_E_ATTACHMENT_OPEN_FAILURE:
      reason = "Attachment Open Error!";
      break;
    case platform::MAPI_E_UNKNOWN_RECIPIENT:
      reason = "Unknown Recipient!";
      break;
    case platform::MAPI_E_BAD_RECIPTYPE:
      reason = "Bad Recipient Type!";
      break;
    case platform::MAPI_E_TEXT_TOO_LARGE:
      reason = "Text Too Large!";
      break;
    case platform::MAPI_E_AMBIGUOUS_RECIPIENT:
      reason = "Ambiguous Recipient!";
      break;
    case platform::MAPI_E_INVALID_RECIPS:
      reason = "Invalid Recipient(s)!";
      break;
    default:
      break;
  }
  if (reason == nullptr) return std::string("MAPI SendMail Error! ") + kAdvice;
  return std::string("MAPI SendMail Error!  ") + reason + kAdvice;
}

int SendNotificationMail(int argc, char** argv, std::FILE* err) {
  // 1. Say what is being done.
  SetConsoleTitle(argc, argv);

  // 2. The mail text.
  std::FILE* file = std::fopen(kMessageFile, "r");
  if (file == nullptr) return Fail(err, "Couldn't open tremmail.txt");
  std::string text = ReadMailText(file);
  std::fclose(file);

  // 3. The message: one recipient named by the whole command line.
  platform::MailMessage message;
  message.subject = kSubject;
  message.noteText = text;
  platform::MailRecipient recipient;
  recipient.recipClass = platform::MAPI_TO;
  recipient.name = RecipientFromCommandLine(argc, argv);
  message.recips.push_back(recipient);

  // 4. The mail system must be there. (The mail library is linked to the program, so there is
  // no separate loading step that could fail once the program runs.)
  if (!platform::MailSystemPresent()) return Fail(err, "MAPI is unavailable on this system");

  // 5. Start it.
  if (platform::MailInitialize() != platform::SUCCESS_SUCCESS) {
    return Fail(err, std::string("MAPI was not successfully Initialized!") + kAdvice);
  }

  // 6. The mail settings take the place of the default messaging profile: no file means the
  // built-in defaults, a file that cannot be read or holds a bad line means no usable profile.
  platform::MailSettings settings;
  std::string error;
  if (platform::LoadMailSettings(settings, error) == platform::MailSettingsSource::kInvalid) {
    return Fail(err, "Couldn't find MAPI profile", error);
  }

  // 7. Log on.
  platform::SmtpSession session;
  unsigned long rc = session.Logon(settings);
  if (rc == platform::MAPI_E_NOT_SUPPORTED) return Fail(err, WrongVersion("MAPILogon"), session.Detail());
  if (rc != platform::SUCCESS_SUCCESS) return Fail(err, LogonFailureText(rc), session.Detail());

  // 8. The recipient's details are resolved by the send itself (name lookup in the mail
  // settings' address book), so nothing is shown here.

  // 9. Send.
  rc = session.Send(message, platform::Now());
  if (rc == platform::MAPI_E_NOT_SUPPORTED) return Fail(err, WrongVersion("MAPISendMail"), session.Detail());
  if (rc != platform::SUCCESS_SUCCESS) return Fail(err, SendFailureText(rc), session.Detail());

  // 10. Log off.
  session.Logoff();
  return 1;
}

}  // namespace tremmail
