// MapiMail: sends one e-mail (up to 10 recipients, up to 10 attached files) through the
// machine's mail system. The agent's e-mail action and the dialog library use it.
//
// The mail system is reached only when it is needed: a computer without one still runs the
// agent, and every operation then simply answers 0. Here the mail system is the SMTP layer
// (platform/smtp_session.h) with the server, sender and address book of the mail settings file
// (platform/mail_settings.h); recipients are named by display name or address and resolved
// when the mail is sent.
//
// Results: 1 done, 0 not done. A failure leaves no error record; the reason goes to the trace.
#pragma once

#include <string>
#include <vector>

#include "core/base/error_status.h"
#include "platform/mail_message.h"

class MapiMail : public KT_ErrorStatus {
 public:
  static constexpr int kMaxRecipients = 10;
  static constexpr int kMaxAttachments = 10;
  // Longest attachment path (directory, separator and file name).
  static constexpr size_t kMaxPathLength = 4095;

  MapiMail();
  virtual ~MapiMail();

  // Adds a recipient of class TO, or BCC when `bcc` is non-zero. The name is the display name
  // the mail system resolves; the address is kept with it and, when given, is used in place of
  // the name ("user@domain" or "SMTP:user@domain"). 0 when 10 are held, the name is null, or
  // no mail system is present; else 1.
  int AddRecipient(const char* name, const char* address, int bcc);
  int AddBccRecipient(const char* name, const char* address);

  // Adds the file of that name in the current directory as an attachment, shown to the reader
  // as `displayName` when given, else by its file name. 0 when 10 are held, the name is null
  // or empty, or the path is too long; else 1. The file is read when the mail is sent.
  int AddAttachment(const char* fileName, const char* displayName = nullptr);

  // Sends the mail with this subject and note text (null counts as empty). 1 when the mail
  // server accepted it, else 0 (no mail system, no recipient, bad mail settings, a missing
  // attachment, a refused recipient, an unreachable server, ...).
  int Send(const char* subject, const char* text);

  // Forget all recipients / all attachments.
  void ClearRecipients();
  void ClearAttachments();

  int RecipientCount() const { return static_cast<int>(recipients_.size()); }
  int AttachmentCount() const { return static_cast<int>(attachments_.size()); }

 private:
  int SendMail(const char* subject, const char* text);

  std::vector<platform::MailRecipient> recipients_;
  std::vector<platform::MailAttachment> attachments_;
};
