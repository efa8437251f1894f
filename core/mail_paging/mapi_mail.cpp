#include "core/mail_paging/mapi_mail.h"

#include <unistd.h>

#include <new>

#include "core/base/ktdiag.h"
#include "platform/clock.h"
#include "platform/smtp_session.h"

namespace {

void TraceFailure(const char* step, unsigned long code, const std::string& detail) {
  Diag() << "MapiMail: " << step << " failed (" << code << ")";
  if (!detail.empty()) Diag() << ": " << detail;
  Diag() << kendl;
}

}  // namespace

MapiMail::MapiMail() = default;

MapiMail::~MapiMail() = default;

int MapiMail::AddRecipient(const char* name, const char* address, int bcc) {
  if (recipients_.size() >= static_cast<size_t>(kMaxRecipients)) return 0;
  if (name == nullptr) return 0;
  // No mail system on this computer: nothing can be resolved or sent.
  if (!platform::MailSystemPresent()) return 0;
  try {
    platform::MailRecipient r;
    r.recipClass = bcc ? platform::MAPI_BCC : platform::MAPI_TO;
    r.name = name;
    r.address = address != nullptr ? address : "";
    recipients_.push_back(std::move(r));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int MapiMail::AddBccRecipient(const char* name, const char* address) {
  return AddRecipient(name, address, 1);
}

int MapiMail::AddAttachment(const char* fileName, const char* displayName) {
  if (attachments_.size() >= static_cast<size_t>(kMaxAttachments)) return 0;
  if (fileName == nullptr || fileName[0] == '\0') return 0;
  char cwd[kMaxPathLength + 1];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return 0;
  try {
    std::string path = cwd;
    path += '/';
    path += fileName;
    if (path.size() > kMaxPathLength) return 0;
    platform::MailAttachment a;
    a.path = std::move(path);
    a.fileName = displayName != nullptr ? displayName : "";
    if (a.fileName.empty()) {
      std::string name = fileName;
      size_t slash = name.find_last_of('/');
      a.fileName = slash == std::string::npos ? name : name.substr(slash + 1);
    }
    attachments_.push_back(std::move(a));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int MapiMail::Send(const char* subject, const char* text) {
  try {
    return SendMail(subject, text);
  } catch (const std::bad_alloc&) {
    TraceFailure("send", platform::MAPI_E_INSUFFICIENT_MEMORY, "out of memory");
    return 0;
  }
}

int MapiMail::SendMail(const char* subject, const char* text) {
  if (!platform::MailSystemPresent()) {
    TraceFailure("mail system", platform::MAPI_E_NOT_SUPPORTED, "no SMTP in the mail library");
    return 0;
  }
  if (platform::MailInitialize() != platform::SUCCESS_SUCCESS) {
    TraceFailure("initialize", platform::MAPI_E_FAILURE, "");
    return 0;
  }
  if (recipients_.empty()) return 0;

  platform::MailMessage message;
  message.subject = subject != nullptr ? subject : "";
  message.noteText = text != nullptr ? text : "";
  message.recips = recipients_;
  message.files = attachments_;

  platform::MailSettings settings;
  std::string error;
  if (platform::LoadMailSettings(settings, error) == platform::MailSettingsSource::kInvalid) {
    TraceFailure("mail settings", platform::MAPI_E_LOGIN_FAILURE, error);
    return 0;
  }
  platform::SmtpSession session;
  unsigned long rc = session.Logon(settings);
  if (rc != platform::SUCCESS_SUCCESS) {
    TraceFailure("logon", rc, session.Detail());
    return 0;
  }
  rc = session.Send(message, platform::Now());
  if (rc != platform::SUCCESS_SUCCESS) {
    TraceFailure("send", rc, session.Detail());
    return 0;
  }
  session.Logoff();
  return 1;
}

void MapiMail::ClearRecipients() {
  recipients_.clear();
}

void MapiMail::ClearAttachments() {
  attachments_.clear();
}
