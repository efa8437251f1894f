#include "platform/mail_message.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace platform {

namespace {

constexpr const char* kCrlf = "\r\n";
constexpr std::string_view kBoundaryStem = "=_vigil_";
// Longest line of printable ASCII written into a header field as-is.
constexpr size_t kMaxPlainHeaderText = 900;
// Longest attachment file name shown.
constexpr size_t kMaxFileNameBytes = 200;

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

bool EndsWithCrlf(const std::string& s) {
  return s.size() >= 2 && s.compare(s.size() - 2, 2, kCrlf) == 0;
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

bool IsPrintableAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != prefix[i]) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

const char* CharsetOf(std::string_view s) {
  return IsValidUtf8(s) ? "UTF-8" : "ISO-8859-1";
}

// Every CR, LF or lone CR becomes CRLF.
std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += kCrlf;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += kCrlf;
    } else {
      out += c;
    }
  }
  return out;
}

// True when CRLF text can travel as 7bit: printable ASCII and TAB, lines of at most 998.
bool Is7BitSafe(std::string_view crlfText) {
  size_t lineLength = 0;
  for (size_t i = 0; i < crlfText.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(crlfText[i]);
    if (c == '\r' && i + 1 < crlfText.size() && crlfText[i + 1] == '\n') {
      ++i;
      lineLength = 0;
      continue;
    }
    if ((c < 0x20 && c != '\t') || c > 0x7e) return false;
    if (++lineLength > 998) return false;
  }
  return true;
}

void AddHeader(std::string& out, std::string_view name, std::string_view value) {
  out.append(name);
  out += ':';
  if (!value.empty()) {
    out += ' ';
    out.append(value);
  }
  out += kCrlf;
}

std::string FormatMailbox(std::string_view name, const std::string& address) {
  std::string clean = CleanHeaderText(name);
  // "Display <address>": show only the display part.
  if (!clean.empty() && clean.back() == '>' && clean.find('<') != std::string::npos) {
    clean = std::string(Trim(std::string_view(clean).substr(0, clean.rfind('<'))));
    if (clean.size() >= 2 && clean.front() == '"' && clean.back() == '"')
      clean = clean.substr(1, clean.size() - 2);
  }
  if (clean.empty() || clean == address) return address;
  std::string out;
  if (IsPrintableAscii(clean) && clean.size() <= kMaxPlainHeaderText) {
    out += '"';
    for (char c : clean) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  } else {
    out = EncodeHeaderText(clean);
  }
  out += " <";
  out += address;
  out += '>';
  return out;
}

// Cuts a text to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutText(std::string_view s, size_t limit) {
  if (s.size() <= limit) return std::string(s);
  size_t n = limit;
  if (IsValidUtf8(s)) {
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  }
  return std::string(s.substr(0, n));
}

// A MIME parameter: name="value" for plain ASCII, else the RFC 2231 form name*=charset''%XX.
std::string MimeParameter(std::string_view name, std::string_view value) {
  bool plain = IsPrintableAscii(value) && value.find_first_of("\"\\") == std::string_view::npos;
  std::string out(name);
  if (plain) {
    out += "=\"";
    out.append(value);
    out += '"';
    return out;
  }
  static const char* hex = "0123456789ABCDEF";
  out += "*=";
  out += CharsetOf(value);
  out += "''";
  for (unsigned char c : value) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                std::strchr("!#$&+-.^_`|~", c) != nullptr;
    if (keep && c != '\0') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads an attachment file whole; SUCCESS_SUCCESS or the attachment / size failure.
unsigned long ReadAttachment(const std::string& path, size_t budget, std::string& data, std::string& detail) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    int err = errno;
    detail = "attachment " + path + ": " + std::strerror(err);
    return (err == ENOENT || err == ENOTDIR) ? MAPI_E_ATTACHMENT_NOT_FOUND : MAPI_E_ATTACHMENT_OPEN_FAILURE;
  }
  struct stat st {};
  if (::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    detail = "attachment " + path + ": is a directory";
    return MAPI_E_ATTACHMENT_OPEN_FAILURE;
  }
  data.clear();
  char buf[65536];
  for (;;) {
    size_t n = std::fread(buf, 1, sizeof buf, f);
    data.append(buf, n);
    if (data.size() > budget) {
      std::fclose(f);
      detail = "attachment " + path + ": message too large";
      return MAPI_E_TEXT_TOO_LARGE;
    }
    if (n < sizeof buf) break;
  }
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed) {
    detail = "attachment " + path + ": " + std::strerror(err);
    return MAPI_E_ATTACHMENT_OPEN_FAILURE;
  }
  return SUCCESS_SUCCESS;
}

std::atomic<unsigned> g_messageCounter{0};

}  // namespace

unsigned long ResolveMailRecipient(const MailSettings& settings, const MailRecipient& recip,
                                   std::string& address) {
  if (recip.recipClass != MAPI_TO && recip.recipClass != MAPI_CC && recip.recipClass != MAPI_BCC) {
    return MAPI_E_BAD_RECIPTYPE;
  }
  std::string_view text = Trim(recip.address);
  if (text.empty()) text = Trim(recip.name);
  if (StartsWithNoCase(text, "smtp:")) text = Trim(text.substr(5));
  for (unsigned char c : text) {
    if (IsControl(c)) return MAPI_E_INVALID_RECIPS;
  }
  if (!text.empty() && text.back() == '>') {
    size_t lt = text.rfind('<');
    if (lt == std::string_view::npos) return MAPI_E_INVALID_RECIPS;
    text = Trim(text.substr(lt + 1, text.size() - lt - 2));
  }
  if (text.empty()) return MAPI_E_UNKNOWN_RECIPIENT;
  if (text.find('@') == std::string_view::npos) {
    if (auto alias = settings.LookUpAlias(text)) {
      address = *alias;
      return SUCCESS_SUCCESS;
    }
    if (auto alias = settings.LookUpAlias(recip.name)) {
      address = *alias;
      return SUCCESS_SUCCESS;
    }
    if (!IsValidMailAddress(text, false)) return MAPI_E_UNKNOWN_RECIPIENT;
    address = std::string(text);
    return SUCCESS_SUCCESS;
  }
  if (!IsValidMailAddress(text, true)) return MAPI_E_INVALID_RECIPS;
  address = std::string(text);
  return SUCCESS_SUCCESS;
}

std::string CleanHeaderText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pendingBlank = false;
  for (unsigned char c : text) {
    if (IsControl(c) || c == ' ') {
      pendingBlank = !out.empty();
      continue;
    }
    if (pendingBlank) out += ' ';
    pendingBlank = false;
    out += static_cast<char>(c);
  }
  return out;
}

std::string Base64Encode(std::string_view data, size_t lineLength) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + data.size() / 38 + 4);
  size_t column = 0;
  auto put = [&](char c) {
    if (lineLength != 0 && column == lineLength) {
      out += kCrlf;
      column = 0;
    }
    out += c;
    ++column;
  };
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                 (static_cast<unsigned char>(data[i + 1]) << 8) | static_cast<unsigned char>(data[i + 2]);
    put(table[(v >> 18) & 63]);
    put(table[(v >> 12) & 63]);
    put(table[(v >> 6) & 63]);
    put(table[v & 63]);
  }
  size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    put(table[(v >> 18) & 63]);
    put(table[(v >> 12) & 63]);
    put(rest == 2 ? table[(v >> 6) & 63] : '=');
    put('=');
  }
  return out;
}

std::string QuotedPrintableEncode(std::string_view crlfText) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(crlfText.size() + crlfText.size() / 4);
  size_t start = 0;
  while (start <= crlfText.size()) {
    size_t end = crlfText.find(kCrlf, start);
    bool last = end == std::string_view::npos;
    std::string_view line = crlfText.substr(start, last ? std::string_view::npos : end - start);
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      bool atEnd = i + 1 == line.size();
      char token[4] = {};
      if (((c >= 33 && c <= 126) && c != '=') || ((c == ' ' || c == '\t') && !atEnd)) {
        token[0] = static_cast<char>(c);
      } else {
        token[0] = '=';
        token[1] = hex[c >> 4];
        token[2] = hex[c & 15];
      }
      size_t len = std::strlen(token);
      // A soft break keeps every encoded line at 76 characters or fewer, "=" included.
      if (column + len > 75) {
        out += "=\r\n";
        column = 0;
      }
      out.append(token, len);
      column += len;
    }
    if (last) break;
    out += kCrlf;
    start = end + 2;
  }
  return out;
}

std::string EncodeHeaderText(std::string_view cleanText) {
  if (IsPrintableAscii(cleanText) && cleanText.size() <= kMaxPlainHeaderText) return std::string(cleanText);
  bool utf8 = IsValidUtf8(cleanText);
  std::string prefix = std::string("=?") + (utf8 ? "UTF-8" : "ISO-8859-1") + "?B?";
  // 45 bytes make 60 base64 characters: every encoded word stays within 75 characters.
  constexpr size_t kChunk = 45;
  std::string out;
  size_t i = 0;
  while (i < cleanText.size()) {
    size_t n = std::min(kChunk, cleanText.size() - i);
    if (utf8) {
      while (n > 1 && i + n < cleanText.size() &&
             (static_cast<unsigned char>(cleanText[i + n]) & 0xC0) == 0x80)
        --n;
    }
    if (!out.empty()) out += "\r\n ";
    out += prefix;
    out += Base64Encode(cleanText.substr(i, n), 0);
    out += "?=";
    i += n;
  }
  return out;
}

std::string FormatMailDate(int64_t now) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = static_cast<time_t>(now);
  struct tm tm {};
  if (::localtime_r(&t, &tm) == nullptr) {
    t = 0;
    ::gmtime_r(&t, &tm);
  }
  long offset = tm.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday % 7],
                tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
                (offset / 60) % 100, offset % 60);
  return buf;
}

unsigned long ComposeMailMessage(const MailSettings& settings, const MailMessage& message,
                                 const std::vector<std::string>& addresses, int64_t now, std::string& out,
                                 std::string& detail) {
  out.clear();
  std::vector<std::string> to;
  std::vector<std::string> cc;
  for (size_t i = 0; i < message.recips.size() && i < addresses.size(); ++i) {
    const MailRecipient& r = message.recips[i];
    if (r.recipClass == MAPI_TO) to.push_back(FormatMailbox(r.name, addresses[i]));
    if (r.recipClass == MAPI_CC) cc.push_back(FormatMailbox(r.name, addresses[i]));
  }
  auto join = [](const std::vector<std::string>& list) {
    std::string s;
    for (const auto& item : list) {
      if (!s.empty()) s += ",\r\n ";
      s += item;
    }
    return s;
  };

  unsigned counter = ++g_messageCounter;
  std::string domain = settings.from.substr(settings.from.find('@') + 1);
  if (domain.empty() || domain == settings.from) domain = MailHostName();
  char id[160];
  std::snprintf(id, sizeof id, "<%lld.%d.%u@%s>", static_cast<long long>(now), static_cast<int>(::getpid()),
                counter, domain.c_str());

  AddHeader(out, "Date", FormatMailDate(now));
  AddHeader(out, "From", settings.from);
  if (to.empty() && cc.empty()) AddHeader(out, "To", "undisclosed-recipients:;");
  if (!to.empty()) AddHeader(out, "To", join(to));
  if (!cc.empty()) AddHeader(out, "Cc", join(cc));
  AddHeader(out, "Subject", EncodeHeaderText(CleanHeaderText(message.subject)));
  AddHeader(out, "Message-ID", id);
  AddHeader(out, "MIME-Version", "1.0");

  std::string body = NormalizeLineEnds(message.noteText);
  if (!body.empty() && !EndsWithCrlf(body)) body += kCrlf;
  char boundaryBuf[64];
  std::snprintf(boundaryBuf, sizeof boundaryBuf, "%.*s%llx_%x_%x", static_cast<int>(kBoundaryStem.size()),
                kBoundaryStem.data(), static_cast<unsigned long long>(now), static_cast<unsigned>(::getpid()),
                counter);
  std::string boundary = boundaryBuf;
  bool multipart = !message.files.empty();
  bool plain = Is7BitSafe(body) && !(multipart && body.find(kBoundaryStem) != std::string::npos);
  std::string textType = std::string("text/plain; charset=") + (plain ? "us-ascii" : CharsetOf(body));
  std::string textEncoding = plain ? "7bit" : "quoted-printable";
  std::string textBody = plain ? body : QuotedPrintableEncode(body);
  if (!plain && !textBody.empty() && !EndsWithCrlf(textBody)) textBody += kCrlf;

  if (!multipart) {
    AddHeader(out, "Content-Type", textType);
    AddHeader(out, "Content-Transfer-Encoding", textEncoding);
    out += kCrlf;
    out += textBody;
  } else {
    AddHeader(out, "Content-Type", "multipart/mixed;\r\n boundary=\"" + boundary + "\"");
    out += kCrlf;
    out += "This is a multi-part message in MIME format.\r\n";
    out += "\r\n--" + boundary + kCrlf;
    AddHeader(out, "Content-Type", textType);
    AddHeader(out, "Content-Transfer-Encoding", textEncoding);
    out += kCrlf;
    out += textBody;
    for (const MailAttachment& file : message.files) {
      std::string data;
      size_t budget = kMailMaxMessageBytes > out.size() ? (kMailMaxMessageBytes - out.size()) / 4 * 3 : 0;
      unsigned long rc = ReadAttachment(file.path, budget, data, detail);
      if (rc != SUCCESS_SUCCESS) {
        out.clear();
        return rc;
      }
      std::string shown = CleanHeaderText(file.fileName.empty() ? BaseName(file.path) : file.fileName);
      shown = CutText(shown, kMaxFileNameBytes);
      if (shown.empty()) shown = "attachment";
      out += "\r\n--" + boundary + kCrlf;
      AddHeader(out, "Content-Type", "application/octet-stream;\r\n " + MimeParameter("name", shown));
      AddHeader(out, "Content-Disposition", "attachment;\r\n " + MimeParameter("filename", shown));
      AddHeader(out, "Content-Transfer-Encoding", "base64");
      out += kCrlf;
      out += Base64Encode(data);
      out += kCrlf;
    }
    out += "\r\n--" + boundary + "--\r\n";
  }
  if (out.size() > kMailMaxMessageBytes) {
    out.clear();
    detail = "message too large";
    return MAPI_E_TEXT_TOO_LARGE;
  }
  return SUCCESS_SUCCESS;
}

}  // namespace platform
