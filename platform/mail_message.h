// One mail as the mail callers describe it (recipients by display name, attachment files, subject
// and note text), the result codes they expect, and its conversion into an Internet message.
//
// Result codes are those of Simple MAPI, so that callers written against it keep their checks
// and texts; the SMTP layer maps its own failures onto them (smtp_session.h).
//
// Header fields never carry a CR or LF taken from the caller: every run of control characters
// in a subject, a display name or a file name becomes one blank before the field is written,
// so no text can add header lines or end the header block. Non-ASCII texts are written as
// RFC 2047 encoded words (UTF-8 when the text is valid UTF-8, else ISO-8859-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mail_settings.h"

namespace platform {

// Simple MAPI result codes.
inline constexpr unsigned long SUCCESS_SUCCESS = 0;
inline constexpr unsigned long MAPI_USER_ABORT = 1;
inline constexpr unsigned long MAPI_E_FAILURE = 2;
inline constexpr unsigned long MAPI_E_LOGIN_FAILURE = 3;
inline constexpr unsigned long MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr unsigned long MAPI_E_TOO_MANY_SESSIONS = 8;
inline constexpr unsigned long MAPI_E_TOO_MANY_FILES = 9;
inline constexpr unsigned long MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr unsigned long MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr unsigned long MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr unsigned long MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr unsigned long MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr unsigned long MAPI_E_TEXT_TOO_LARGE = 18;
inline constexpr unsigned long MAPI_E_AMBIGUOUS_RECIPIENT = 21;
inline constexpr unsigned long MAPI_E_INVALID_RECIPS = 25;
// The mail library at run time lacks something the layer needs (a protocol or an option).
inline constexpr unsigned long MAPI_E_NOT_SUPPORTED = 26;

// Recipient classes.
inline constexpr unsigned long MAPI_ORIG = 0;
inline constexpr unsigned long MAPI_TO = 1;
inline constexpr unsigned long MAPI_CC = 2;
inline constexpr unsigned long MAPI_BCC = 3;

// Logon and address-book flags the callers pass (kept for their call sites; SMTP has no UI).
inline constexpr unsigned long MAPI_NEW_SESSION = 0x2;
inline constexpr unsigned long MAPI_AB_NOMODIFY = 0x400;

struct MailRecipient {
  unsigned long recipClass = MAPI_TO;
  std::string name;     // display name
  std::string address;  // "user@domain", "SMTP:user@domain", or empty: resolve the name
};

struct MailAttachment {
  std::string path;      // file to read when the mail is sent
  std::string fileName;  // name shown to the reader; empty: the last part of the path
};

struct MailMessage {
  std::string subject;
  std::string noteText;
  std::vector<MailRecipient> recips;
  std::vector<MailAttachment> files;
};

// Largest message (headers, text and encoded attachments) the layer sends.
inline constexpr size_t kMailMaxMessageBytes = 48u * 1024u * 1024u;

// The envelope address of a recipient: the address when given, else the display name; a
// "SMTP:" prefix and a "Name <address>" form are understood. A text without '@' is looked up
// in the settings' address book, and otherwise taken as a mailbox of the server itself.
// Results: SUCCESS_SUCCESS; MAPI_E_BAD_RECIPTYPE (class not TO, CC or BCC);
// MAPI_E_UNKNOWN_RECIPIENT (a name that is neither in the book nor a mailbox, e.g. one with
// blanks); MAPI_E_INVALID_RECIPS (a malformed address).
unsigned long ResolveMailRecipient(const MailSettings& settings, const MailRecipient& recip,
                                   std::string& address);

// Header text with every run of control characters (CR, LF, TAB, ...) made one blank and
// surrounding blanks dropped.
std::string CleanHeaderText(std::string_view text);

// The complete message (header fields and body, CRLF line ends). `addresses` holds the
// resolved address of each recipient, in order. Attachments are read here: a missing file
// gives MAPI_E_ATTACHMENT_NOT_FOUND, an unreadable one MAPI_E_ATTACHMENT_OPEN_FAILURE, and a
// message above kMailMaxMessageBytes MAPI_E_TEXT_TOO_LARGE; `detail` then says which.
// `now` (seconds since 1970) dates the message.
unsigned long ComposeMailMessage(const MailSettings& settings, const MailMessage& message,
                                 const std::vector<std::string>& addresses, int64_t now, std::string& out,
                                 std::string& detail);

// Encoders used by the composer (exposed for tests).
std::string Base64Encode(std::string_view data, size_t lineLength = 76);
std::string QuotedPrintableEncode(std::string_view crlfText);
// A header text as-is when it is short printable ASCII, else as encoded words folded onto
// continuation lines.
std::string EncodeHeaderText(std::string_view cleanText);
// RFC 5322 date, e.g. "Tue, 05 Mar 2024 14:03:09 +0100", in the local time zone.
std::string FormatMailDate(int64_t now);

}  // namespace platform
