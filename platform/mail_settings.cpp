#include "platform/mail_settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/settings_text.h"

namespace platform {

namespace {

// A display name as the address book keys it: lower case, blanks and tabs made single blanks.
std::string NameKey(std::string_view s) {
  std::string out;
  for (char c : LowerAscii(TrimBlanks(s))) {
    if (c == '\t') c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

// Decimal number within [lo, hi]; digits only.
bool ParseNumber(std::string_view s, int lo, int hi, int& out) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

// A server name: a host name, an IPv4 address, or an IPv6 address with or without brackets.
bool IsValidServer(std::string_view s) {
  if (s.empty() || s.size() > 253) return false;
  if (s.front() == '[') {
    if (s.back() != ']' || s.size() < 3) return false;
    s = s.substr(1, s.size() - 2);
  }
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '.' || c == ':' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool IsAtext(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr && c != '\0';
}

}  // namespace

std::optional<std::string> MailSettings::LookUpAlias(std::string_view name) const {
  auto it = aliases.find(NameKey(name));
  if (it == aliases.end()) return std::nullopt;
  return it->second;
}

bool IsValidMailAddress(std::string_view address, bool requireDomain) {
  if (address.empty() || address.size() > 254) return false;
  size_t at = address.find('@');
  if (at != std::string_view::npos && address.find('@', at + 1) != std::string_view::npos) return false;
  std::string_view local = address.substr(0, at);
  if (local.empty() || local.size() > 64 || local.front() == '.' || local.back() == '.') return false;
  for (size_t i = 0; i < local.size(); ++i) {
    char c = local[i];
    if (c == '.') {
      if (i > 0 && local[i - 1] == '.') return false;
      continue;
    }
    if (!IsAtext(c)) return false;
  }
  if (at == std::string_view::npos) return !requireDomain;
  std::string_view domain = address.substr(at + 1);
  if (domain.empty() || domain.front() == '.' || domain.back() == '.' || domain.front() == '-') return false;
  for (size_t i = 0; i < domain.size(); ++i) {
    char c = domain[i];
    bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!ok) return false;
    if (c == '.' && domain[i - 1] == '.') return false;
  }
  return true;
}

std::string MailHostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "localhost";
  std::string name(buf);
  if (!IsValidMailAddress("x@" + name, true)) return "localhost";
  return name;
}

bool ParseMailSettings(std::string_view text, MailSettings& out, std::string& error) {
  text = WithoutByteOrderMark(text);
  MailSettings s;
  bool portGiven = false;
  std::set<std::string> seen;
  int lineNo = 0;
  size_t pos = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  if (text.size() > kMailSettingsMaxBytes) {
    error = "file too large";
    return false;
  }
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) return fail("contains a NUL byte");
    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key = value");
    std::string_view rawKey = TrimBlanks(line.substr(0, eq));
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    if (HasControlCharacter(rawKey) || HasControlCharacter(value))
      return fail("contains a control character");
    std::string key = LowerAscii(rawKey);

    if (key.rfind("alias", 0) == 0 && key.size() > 5 && (key[5] == ' ' || key[5] == '\t')) {
      std::string name = NameKey(std::string_view(key).substr(5));
      if (!IsValidMailAddress(value, false)) return fail("alias '" + name + "': invalid address");
      if (!s.aliases.emplace(name, std::string(value)).second)
        return fail("alias '" + name + "' given twice");
      continue;
    }
    if (!seen.insert(key).second) return fail("'" + key + "' given twice");

    if (key == "server") {
      if (!IsValidServer(value)) return fail("invalid server name");
      s.server = std::string(value);
    } else if (key == "port") {
      if (!ParseNumber(value, 1, 65535, s.port)) return fail("port must be 1 to 65535");
      portGiven = true;
    } else if (key == "from") {
      if (!IsValidMailAddress(value, true)) return fail("invalid sender address");
      s.from = std::string(value);
    } else if (key == "user") {
      s.user = std::string(value);
    } else if (key == "password") {
      s.password = std::string(value);
    } else if (key == "tls") {
      std::string v = LowerAscii(value);
      if (v == "none" || v == "no") {
        s.tls = MailTls::kNone;
      } else if (v == "starttls") {
        s.tls = MailTls::kStartTls;
      } else if (v == "smtps") {
        s.tls = MailTls::kSmtps;
      } else {
        return fail("tls must be none, starttls or smtps");
      }
    } else if (key == "tls_verify") {
      if (!ParseYesNo(value, s.tlsVerify)) return fail("tls_verify must be yes or no");
    } else if (key == "ca_file") {
      s.caFile = std::string(value);
    } else if (key == "connect_timeout") {
      if (!ParseNumber(value, 1, 300, s.connectTimeoutSeconds))
        return fail("connect_timeout must be 1 to 300 seconds");
    } else if (key == "timeout") {
      if (!ParseNumber(value, 1, 3600, s.timeoutSeconds)) return fail("timeout must be 1 to 3600 seconds");
    } else {
      return fail("unknown key '" + key + "'");
    }
  }
  if (!portGiven && s.tls == MailTls::kSmtps) s.port = 465;
  if (s.from.empty()) s.from = "vigil@" + MailHostName();
  out = std::move(s);
  return true;
}

MailSettingsSource LoadMailSettings(MailSettings& out, std::string& error) {
  const char* env = std::getenv(kMailSettingsEnv);
  bool fromEnv = env != nullptr && env[0] != '\0';
  std::string path = fromEnv ? env : kMailSettingsFile;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    int err = errno;
    if (err == ENOENT && !fromEnv) {
      MailSettings defaults;
      std::string ignored;
      ParseMailSettings("", defaults, ignored);
      out = std::move(defaults);
      return MailSettingsSource::kDefaults;
    }
    error = path + ": " + std::strerror(err);
    return MailSettingsSource::kInvalid;
  }
  std::string text;
  char buf[4096];
  bool tooLarge = false;
  bool readError = false;
  for (;;) {
    size_t n = std::fread(buf, 1, sizeof buf, f);
    text.append(buf, n);
    if (text.size() > kMailSettingsMaxBytes) {
      tooLarge = true;
      break;
    }
    if (n < sizeof buf) {
      readError = std::ferror(f) != 0;
      break;
    }
  }
  int err = errno;
  std::fclose(f);
  if (readError) {
    error = path + ": " + std::strerror(err);
    return MailSettingsSource::kInvalid;
  }
  if (tooLarge) {
    error = path + ": file too large";
    return MailSettingsSource::kInvalid;
  }
  std::string why;
  if (!ParseMailSettings(text, out, why)) {
    error = path + ": " + why;
    return MailSettingsSource::kInvalid;
  }
  return MailSettingsSource::kFile;
}

}  // namespace platform
