#include "platform/smtp_session.h"

#include "platform/curl_library.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {

// Longest server reply text kept for the detail line.
constexpr size_t kMaxReplyText = 200;

// The loaded library; called only once MailSystemPresent has found it.
const CurlLibrary& Curl() { return *CurlLibrary::Get(); }

bool HasProtocol(const char* name) {
  const curl_version_info_data* info = Curl().version_info(CURLVERSION_NOW);
  if (info == nullptr || info->protocols == nullptr) return false;
  for (const char* const* p = info->protocols; *p != nullptr; ++p) {
    if (std::strcmp(*p, name) == 0) return true;
  }
  return false;
}

// What the debug callback saw of the conversation.
struct Conversation {
  std::string lastCommand;  // verb of the last command sent
  int lastReply = 0;        // code of the last complete reply line
  std::string replyText;    // that line, without its line end
  bool dataSent = false;    // the server answered DATA with 354
  bool quitting = false;    // QUIT sent: what follows says nothing about the mail

  void Reset() { *this = Conversation{}; }

  void OnCommand(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && ((text[n] >= 'A' && text[n] <= 'Z') || (text[n] >= 'a' && text[n] <= 'z'))) ++n;
    if (n == 0 || quitting) return;  // not a command (the end-of-data mark), or after QUIT
    std::string verb(text.substr(0, n));
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    if (verb == "QUIT") {
      quitting = true;
      return;
    }
    lastCommand = std::move(verb);
  }

  void OnReply(std::string_view text) {
    if (quitting) return;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      std::string_view line =
          text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
      pos = nl == std::string_view::npos ? text.size() : nl + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() < 3) continue;
      int code = 0;
      bool digits = true;
      for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') digits = false;
        code = code * 10 + (line[i] - '0');
      }
      if (!digits) continue;
      lastReply = code;
      replyText.clear();
      for (char c : line.substr(0, kMaxReplyText)) {
        replyText += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
      }
      if (lastCommand == "DATA" && code == 354) dataSent = true;
    }
  }
};

int DebugCallback(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* conv = static_cast<Conversation*>(user);
  if (type == CURLINFO_HEADER_OUT) conv->OnCommand(std::string_view(data, size));
  if (type == CURLINFO_HEADER_IN) conv->OnReply(std::string_view(data, size));
  return 0;
}

struct Upload {
  const std::string* data = nullptr;
  size_t pos = 0;
};

size_t ReadCallback(char* buffer, size_t size, size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  size_t room = size * count;
  size_t n = std::min(room, up->data->size() - up->pos);
  std::memcpy(buffer, up->data->data() + up->pos, n);
  up->pos += n;
  return n;
}

std::string CurlText(CURLcode code, const char* errorBuffer) {
  if (errorBuffer != nullptr && errorBuffer[0] != '\0') return errorBuffer;
  return Curl().easy_strerror(code);
}

}  // namespace

bool MailSystemPresent(MailTls tls) {
  if (CurlLibrary::Get() == nullptr) return false;
  if (!HasProtocol("smtp")) return false;
  if (tls == MailTls::kSmtps && !HasProtocol("smtps")) return false;
  if (tls == MailTls::kStartTls) {
    const curl_version_info_data* info = Curl().version_info(CURLVERSION_NOW);
    if (info == nullptr || (info->features & CURL_VERSION_SSL) == 0) return false;
  }
  return true;
}

unsigned long MailInitialize() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] {
    result = CurlLibrary::Get() == nullptr ? CURLE_FAILED_INIT : Curl().global_init(CURL_GLOBAL_DEFAULT);
  });
  return result == CURLE_OK ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

unsigned long MapSmtpFailure(int curlCode, std::string_view lastCommand, int lastReply, bool dataSent) {
  switch (curlCode) {
    case CURLE_OK:
      return SUCCESS_SUCCESS;
    case CURLE_OUT_OF_MEMORY:
      return MAPI_E_INSUFFICIENT_MEMORY;
    case CURLE_LOGIN_DENIED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return MAPI_E_LOGIN_FAILURE;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
      return MAPI_E_NOT_SUPPORTED;
    default:
      break;
  }
  // Authentication required or refused, whatever the command.
  if (lastReply == 530 || lastReply == 534 || lastReply == 535 || lastReply == 538)
    return MAPI_E_LOGIN_FAILURE;
  if (lastCommand == "RCPT" && !dataSent) {
    switch (lastReply) {
      case 450:
      case 550:
      case 551:
        return MAPI_E_UNKNOWN_RECIPIENT;
      case 452:
        return MAPI_E_TOO_MANY_RECIPIENTS;
      case 501:
      case 553:
      case 555:
        return MAPI_E_INVALID_RECIPS;
      default:
        return MAPI_E_FAILURE;
    }
  }
  if ((lastCommand == "MAIL" || dataSent) && lastReply == 552) return MAPI_E_TEXT_TOO_LARGE;
  return MAPI_E_FAILURE;
}

struct SmtpSession::Impl {
  CURL* curl = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Conversation conversation;
  std::string url;
  std::string mailFrom;

  ~Impl() {
    if (curl != nullptr) Curl().easy_cleanup(curl);
  }
};

SmtpSession::SmtpSession() = default;

SmtpSession::~SmtpSession() {
  Logoff();
}

unsigned long SmtpSession::Logon(const MailSettings& settings) {
  Logoff();
  detail_.clear();
  if (!MailSystemPresent(settings.tls)) {
    detail_ =
        settings.tls == MailTls::kNone ? "the mail library offers no SMTP" : "the mail library offers no TLS";
    return MAPI_E_NOT_SUPPORTED;
  }
  if (MailInitialize() != SUCCESS_SUCCESS) {
    detail_ = "the mail library could not be started";
    return MAPI_E_FAILURE;
  }
  auto impl = std::make_unique<Impl>();
  impl->curl = Curl().easy_init();
  if (impl->curl == nullptr) {
    detail_ = "no transfer handle (out of memory)";
    return MAPI_E_INSUFFICIENT_MEMORY;
  }
  settings_ = settings;
  std::string host = settings.server;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  impl->url = std::string(settings.tls == MailTls::kSmtps ? "smtps://" : "smtp://") + host + ":" +
              std::to_string(settings.port) + "/" + MailHostName();
  impl->mailFrom = "<" + settings.from + ">";

  CURL* c = impl->curl;
  CURLcode rc = CURLE_OK;
  auto set = [&](CURLcode r) {
    if (rc == CURLE_OK) rc = r;
  };
  set(Curl().easy_setopt(c, CURLOPT_ERRORBUFFER, impl->errorBuffer));
  set(Curl().easy_setopt(c, CURLOPT_URL, impl->url.c_str()));
  set(Curl().easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps"));
  set(Curl().easy_setopt(c, CURLOPT_PROXY, ""));
  set(Curl().easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
  set(Curl().easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(settings.connectTimeoutSeconds) * 1000L));
  set(Curl().easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.timeoutSeconds) * 1000L));
  set(Curl().easy_setopt(c, CURLOPT_MAIL_FROM, impl->mailFrom.c_str()));
  set(Curl().easy_setopt(c, CURLOPT_UPLOAD, 1L));
  set(Curl().easy_setopt(c, CURLOPT_READFUNCTION, ReadCallback));
  set(Curl().easy_setopt(c, CURLOPT_DEBUGFUNCTION, DebugCallback));
  set(Curl().easy_setopt(c, CURLOPT_DEBUGDATA, &impl->conversation));
  set(Curl().easy_setopt(c, CURLOPT_VERBOSE, 1L));
  if (!settings.user.empty()) {
    set(Curl().easy_setopt(c, CURLOPT_USERNAME, settings.user.c_str()));
    set(Curl().easy_setopt(c, CURLOPT_PASSWORD, settings.password.c_str()));
  }
  if (settings.tls == MailTls::kStartTls)
    set(Curl().easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)));
  if (settings.tls != MailTls::kNone) {
    set(Curl().easy_setopt(c, CURLOPT_SSL_VERIFYPEER, settings.tlsVerify ? 1L : 0L));
    set(Curl().easy_setopt(c, CURLOPT_SSL_VERIFYHOST, settings.tlsVerify ? 2L : 0L));
    if (!settings.caFile.empty()) set(Curl().easy_setopt(c, CURLOPT_CAINFO, settings.caFile.c_str()));
  }
  if (rc != CURLE_OK) {
    detail_ = std::string("mail library option refused: ") + Curl().easy_strerror(rc);
    return rc == CURLE_OUT_OF_MEMORY ? MAPI_E_INSUFFICIENT_MEMORY : MAPI_E_NOT_SUPPORTED;
  }
  impl_ = std::move(impl);
  return SUCCESS_SUCCESS;
}

unsigned long SmtpSession::Send(const MailMessage& message, int64_t now) {
  try {
    return Deliver(message, now);
  } catch (const std::bad_alloc&) {
    detail_ = "out of memory";
    return MAPI_E_INSUFFICIENT_MEMORY;
  } catch (const std::exception& e) {
    detail_ = e.what();
    return MAPI_E_FAILURE;
  }
}

unsigned long SmtpSession::Deliver(const MailMessage& message, int64_t now) {
  detail_.clear();
  if (!impl_) {
    detail_ = "not logged on";
    return MAPI_E_LOGIN_FAILURE;
  }
  if (message.recips.empty()) {
    detail_ = "no recipients";
    return MAPI_E_INVALID_RECIPS;
  }
  std::vector<std::string> addresses;
  for (const MailRecipient& r : message.recips) {
    std::string address;
    unsigned long rc = ResolveMailRecipient(settings_, r, address);
    if (rc != SUCCESS_SUCCESS) {
      std::string shown;
      for (char ch : r.address.empty() ? r.name : r.address) {
        shown += (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ? ' ' : ch;
      }
      detail_ = "recipient '" + shown.substr(0, kMaxReplyText) + "' cannot be resolved";
      return rc;
    }
    addresses.push_back(std::move(address));
  }
  std::string content;
  unsigned long rc = ComposeMailMessage(settings_, message, addresses, now, content, detail_);
  if (rc != SUCCESS_SUCCESS) return rc;

  std::unique_ptr<curl_slist, void (*)(curl_slist*)> rcpts(nullptr, Curl().slist_free_all);
  for (const std::string& a : addresses) {
    curl_slist* next = Curl().slist_append(rcpts.get(), ("<" + a + ">").c_str());
    if (next == nullptr) {
      detail_ = "out of memory";
      return MAPI_E_INSUFFICIENT_MEMORY;
    }
    rcpts.release();
    rcpts.reset(next);
  }
  Upload upload{&content, 0};
  CURL* c = impl_->curl;
  impl_->conversation.Reset();
  impl_->errorBuffer[0] = '\0';
  Curl().easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts.get());
  Curl().easy_setopt(c, CURLOPT_READDATA, &upload);
  Curl().easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(content.size()));
  CURLcode result = Curl().easy_perform(c);
  Curl().easy_setopt(c, CURLOPT_MAIL_RCPT, static_cast<curl_slist*>(nullptr));
  Curl().easy_setopt(c, CURLOPT_READDATA, static_cast<void*>(nullptr));

  const Conversation& conv = impl_->conversation;
  rc = MapSmtpFailure(result, conv.lastCommand, conv.lastReply, conv.dataSent);
  if (rc != SUCCESS_SUCCESS) {
    detail_ = CurlText(result, impl_->errorBuffer);
    if (conv.lastReply != 0 && !conv.replyText.empty()) detail_ += " (server: " + conv.replyText + ")";
  }
  return rc;
}

void SmtpSession::Logoff() {
  impl_.reset();
}

}  // namespace platform
