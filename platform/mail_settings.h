// Mail settings: where the SMTP layer sends mail, as whom, and its address book.
//
// The settings live in a small text file, "mail.conf" in the program's working directory, or
// the file named by the environment variable VIGIL_MAIL_CONF. One "key = value" a line; blank
// lines and lines starting with '#' or ';' are ignored; blanks around keys and values are
// dropped. Keys:
//
//   server          host name or address of the SMTP server            (default localhost)
//   port            1..65535                                           (25, or 465 with smtps)
//   from            sender address                                     (vigil@<host name>)
//   user, password  credentials for SMTP AUTH                          (none)
//   tls             none | starttls | smtps                            (none)
//   tls_verify      yes | no: check the server's certificate and name  (yes)
//   ca_file         file of trusted certificates for tls_verify        (the system's)
//   connect_timeout seconds to reach the server, 1..300                (10)
//   timeout         seconds for the whole transfer, 1..3600            (60)
//   alias NAME      address for the recipient display name NAME       (none; may repeat)
//
// "alias" lines are the address book: the mail callers name recipients by display name, and a
// name without '@' is looked up here (case-insensitively). A missing default file means the
// defaults; a file named by the environment must exist. Any bad line makes the whole file
// invalid, so that mail never goes to a half-read server.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class MailTls { kNone, kStartTls, kSmtps };

struct MailSettings {
  std::string server = "localhost";
  int port = 25;
  std::string from;  // filled with the default by ParseMailSettings when not given
  std::string user;
  std::string password;
  MailTls tls = MailTls::kNone;
  bool tlsVerify = true;
  std::string caFile;
  int connectTimeoutSeconds = 10;
  int timeoutSeconds = 60;
  // Address book: display name (lower case, runs of blanks made one) -> address.
  std::map<std::string, std::string> aliases;

  // The address listed for a display name (case-insensitive), if any.
  std::optional<std::string> LookUpAlias(std::string_view name) const;
};

// Name of the settings file in the working directory, and the variable that names another.
inline constexpr const char* kMailSettingsFile = "mail.conf";
inline constexpr const char* kMailSettingsEnv = "VIGIL_MAIL_CONF";
// Largest settings file read.
inline constexpr size_t kMailSettingsMaxBytes = 64 * 1024;

// Parses settings text. On success fills `out` (defaults for what is not given) and returns
// true; on a bad line returns false with "line N: reason" in `error` and leaves `out` unchanged.
bool ParseMailSettings(std::string_view text, MailSettings& out, std::string& error);

enum class MailSettingsSource { kFile, kDefaults, kInvalid };

// Reads the settings file (VIGIL_MAIL_CONF, else "mail.conf" in the working directory).
// kFile: read and valid; kDefaults: no default file, `out` holds the defaults; kInvalid: the
// file cannot be read or is bad, `error` says why ("<path>: ...").
MailSettingsSource LoadMailSettings(MailSettings& out, std::string& error);

// True when `address` is a plain mailbox "local@domain" or "local" that can go into an SMTP
// envelope: printable ASCII only, no blanks, no <>()[],;:\" and at most one '@', not at the
// ends, at most 254 characters.
bool IsValidMailAddress(std::string_view address, bool requireDomain);

// The machine's host name when it is a usable mail domain, else "localhost".
std::string MailHostName();

}  // namespace platform
