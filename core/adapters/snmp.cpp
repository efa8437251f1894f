// KT_SNMP: session, requests and the console request path. The image updates are in
// snmp_update.cpp, the traps in snmp_traps.cpp.
#include "core/adapters/snmp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "core/base/ktdiag.h"
#include "core/adapters/mib_table.h"
#include "core/scp/scp_frame.h"
#include "core/adapters/snmp_convert.h"
#include "platform/clock.h"

namespace {

constexpr int kSessionRetries = 2;
constexpr long kSessionTimeoutUs = 1000000;  // the library default of 1 s, made explicit
constexpr uint16_t kSnmpPort = 161;
constexpr const char* kServiceName = "kt-snmp";
constexpr uint16_t kReplyPort = 7010;

std::atomic<KT_SCP*> g_process_scp{nullptr};

std::mutex g_hooks_mutex;
KT_SNMP::ServicePortLookup g_service_lookup;
KT_SNMP::TrapHandoff g_trap_handoff;

std::optional<std::string> CopyText(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::optional<uint16_t> ServicesDatabasePort(const char* service) {
  servent entry;
  servent* found = nullptr;
  char buffer[1024];
  if (getservbyname_r(service, "udp", &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return ntohs(static_cast<uint16_t>(found->s_port));
}

// The peer's IPv4 address: a dotted address, the limited broadcast address, or the first IPv4
// address of a host name.
bool ResolvePeer(const std::string& peer, in_addr& out) {
  if (peer == "255.255.255.255") {
    out.s_addr = htonl(INADDR_BROADCAST);
    return true;
  }
  if (inet_pton(AF_INET, peer.c_str(), &out) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(peer.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
  out = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
  freeaddrinfo(list);
  return true;
}

// A short description of a value for the trace.
std::string DescribeValue(const KT_SnmpValue& value) {
  char line[160];
  if (std::optional<int32_t> n = SnmpInteger(value)) {
    std::snprintf(line, sizeof line, "type 0x%02x: %d", value.GetType(), *n);
    return line;
  }
  if (value.GetType() == ASN_OBJECT_ID) return "OID: " + OidToText(SnmpObjectId(value));
  if (std::optional<std::string> text = SnmpText(value, 80)) return "STRING: \"" + *text + "\"";
  std::snprintf(line, sizeof line, "type 0x%02x, %d bytes", value.GetType(), value.GetValueLength());
  return line;
}

bool ParseDecimal(const char* text, long long low, long long high, long long& out) {
  if (text == nullptr) return false;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

// Byte values separated by white space, decimal or hexadecimal; false (after the message on
// standard error) for a bad character or a value above 255.
bool ParseByteList(const char* text, int base, std::vector<uint8_t>& out) {
  const char* p = text == nullptr ? "" : text;
  while (*p != '\0') {
    if (std::isspace(static_cast<unsigned char>(*p))) {
      ++p;
      continue;
    }
    unsigned long value = 0;
    bool any = false;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) {
      const unsigned char c = static_cast<unsigned char>(*p);
      int digit = -1;
      if (std::isdigit(c)) {
        digit = c - '0';
      } else if (base == 16 && std::isxdigit(c)) {
        digit = std::tolower(c) - 'a' + 10;
      }
      if (digit < 0) {
        std::fputs("Input error\n", stderr);
        return false;
      }
      if (value <= 255) value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
      any = true;
      ++p;
    }
    if (any && value > 255) {
      std::fprintf(stderr, "subidentifier %lu is too large ( > 255)\n", value);
      return false;
    }
    out.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

}  // namespace

KT_SCP& KT_SNMP::ProcessScp() {
  KT_SCP* scp = g_process_scp.load();
  return scp != nullptr ? *scp : GetProcessScp();
}

void KT_SNMP::Initialize(KT_SCP* processScp) {
  static std::once_flag once;
  std::call_once(once, [] {
    // The client needs no MIB modules, no configuration files and no saved state; the agent
    // reads its own MIB file afterwards.
    setenv("MIBS", "", 0);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    // Even so, the library makes its state directory and a certificate index in it while it
    // starts (in the system's directory unless told otherwise): it gets a private one, made
    // beforehand (so the library has nothing to announce) and removed once it has started.
    std::error_code ec;
    std::string persist = (std::filesystem::temp_directory_path(ec) / "vigil-netsnmp-XXXXXX").string();
    const bool made = ::mkdtemp(persist.data()) != nullptr;
    if (made) {
      std::filesystem::create_directory(std::filesystem::path(persist) / "cert_indexes", ec);
      netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, persist.c_str());
    }
    init_snmp("vigil");
    if (made) std::filesystem::remove_all(persist, ec);
  });
  if (processScp != nullptr) g_process_scp.store(processScp);
}

KT_SNMP::KT_SNMP() : owned_image_(std::make_unique<KT_SCP>()), image_(owned_image_.get()) {}

KT_SNMP::KT_SNMP(const char* peerHost, const char* readCommunity, const char* writeCommunity, int port)
    : KT_SNMP() {
  SetSession(peerHost, readCommunity, writeCommunity, port);
}

KT_SNMP::KT_SNMP(KT_SCP* image, int agentSide) {
  if (agentSide != 0 && image != nullptr) {
    image_ = image;
    agent_side_ = 1;
  } else {
    owned_image_ = std::make_unique<KT_SCP>();
    image_ = owned_image_.get();
  }
}

KT_SNMP::~KT_SNMP() { CloseSession(); }

// ---- session ------------------------------------------------------------------------------

int KT_SNMP::SetSession(const char* peerHost, const char* readCommunity, const char* writeCommunity, int port) {
  CloseSession();
  peer_ = CopyText(peerHost);
  read_community_ = CopyText(readCommunity);
  write_community_ = CopyText(writeCommunity);
  port_ = port > 0 && port <= 65535 ? port : 0;
  return 1;
}

void KT_SNMP::CloseSession() {
  if (session_ != nullptr) {
    snmp_sess_close(session_);
    session_ = nullptr;
  }
}

void KT_SNMP::SetServicePortLookup(ServicePortLookup lookup) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_service_lookup = std::move(lookup);
}

uint16_t KT_SNMP::DefaultPort() {
  ServicePortLookup lookup;
  {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    lookup = g_service_lookup;
  }
  std::optional<uint16_t> port = lookup ? lookup(kServiceName) : ServicesDatabasePort(kServiceName);
  return port && *port != 0 ? *port : kSnmpPort;
}

void KT_SNMP::SetTrapHandoff(TrapHandoff handoff) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_trap_handoff = std::move(handoff);
}

KT_SNMP::TrapHandoff KT_SNMP::CurrentTrapHandoff() {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  return g_trap_handoff;
}

int KT_SNMP::OpenSession() {
  CloseSession();
  Initialize();
  if (!peer_ || peer_->empty()) {
    Diag() << "KT_SNMP::OpenSession: no adapter name\n";
    return -1;
  }
  in_addr address{};
  if (!ResolvePeer(*peer_, address)) {
    Diag() << "KT_SNMP::OpenSession: unknown host " << *peer_ << kendl;
    return -1;
  }
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, dotted, sizeof dotted);
  const uint16_t port = port_ != 0 ? static_cast<uint16_t>(port_) : DefaultPort();
  peer_ip_ = address.s_addr;
  peer_port_ = htons(port);
  const std::string peerName = std::string("udp:") + dotted + ":" + std::to_string(port);
  const std::string community = read_community_.value_or("");

  netsnmp_session setup;
  snmp_sess_init(&setup);
  setup.version = SNMP_VERSION_1;
  setup.peername = const_cast<char*>(peerName.c_str());
  if (!community.empty()) {
    setup.community = reinterpret_cast<u_char*>(const_cast<char*>(community.c_str()));
    setup.community_len = community.size();
  }
  setup.retries = kSessionRetries;
  setup.timeout = kSessionTimeoutUs;
  setup.callback = nullptr;
  setup.callback_magic = nullptr;
  session_ = snmp_sess_open(&setup);
  if (session_ == nullptr) {
    int libError = 0;
    int sysError = 0;
    char* message = nullptr;
    snmp_error(&setup, &libError, &sysError, &message);
    Diag() << "KT_SNMP::OpenSession: " << (message != nullptr ? message : "failed") << kendl;
    free(message);
    return -1;
  }
  // Requests and traps may go to a broadcast address.
  netsnmp_transport* transport = snmp_sess_transport(session_);
  const int on = 1;
  if (transport == nullptr || transport->sock < 0 ||
      setsockopt(transport->sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    Diag() << "KT_SNMP::OpenSession: broadcast cannot be enabled\n";
    CloseSession();
    return -1;
  }
  return 0;
}

int KT_SNMP::BroadcastEnabled() const {
  if (session_ == nullptr) return -1;
  netsnmp_transport* transport = snmp_sess_transport(session_);
  if (transport == nullptr || transport->sock < 0) return -1;
  int on = 0;
  socklen_t length = sizeof on;
  if (getsockopt(transport->sock, SOL_SOCKET, SO_BROADCAST, &on, &length) != 0) return -1;
  return on != 0 ? 1 : 0;
}

// ---- requests -------------------------------------------------------------------------------

netsnmp_pdu* KT_SNMP::NewPdu(int type) const {
  netsnmp_pdu* pdu = snmp_pdu_create(type);
  if (pdu == nullptr) return nullptr;
  const std::optional<std::string>& community = type == kSnmpSet ? write_community_ : read_community_;
  if (community && !community->empty()) {
    pdu->community = static_cast<u_char*>(malloc(community->size()));
    if (pdu->community != nullptr) {
      std::memcpy(pdu->community, community->data(), community->size());
      pdu->community_len = community->size();
    }
  }
  return pdu;
}

namespace {

// The longest wait for an answer between two looks at the stop check.
constexpr long kStopSliceUs = 100000;

// The IPv4 sender of a received PDU (address and port in network byte order), as the library's
// UDP transport keeps it: a pair of addresses whose first is the remote one.
std::optional<std::pair<uint32_t, uint16_t>> SenderOf(const netsnmp_pdu* pdu) {
  if (pdu->transport_data == nullptr ||
      static_cast<size_t>(pdu->transport_data_length) < sizeof(netsnmp_sockaddr_storage)) {
    return std::nullopt;
  }
  const auto* remote = static_cast<const netsnmp_sockaddr_storage*>(pdu->transport_data);
  if (remote->sa.sa_family != AF_INET) return std::nullopt;
  return std::pair{remote->sin.sin_addr.s_addr, remote->sin.sin_port};
}

}  // namespace

bool KT_SNMP::IsFromPeer(const netsnmp_pdu* pdu) const {
  // A request to the broadcast address is answered from the adapters' own addresses.
  if (peer_ip_ == htonl(INADDR_BROADCAST)) return true;
  return SenderOf(pdu) == std::pair{peer_ip_, peer_port_};
}

int KT_SNMP::TakeAnswer(int operation, netsnmp_session*, int requestId, netsnmp_pdu* pdu, void* magic) {
  auto* client = static_cast<KT_SNMP*>(magic);
  if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu != nullptr && !client->IsFromPeer(pdu)) {
    // A response with the request's id from another sender than the adapter: no answer. Not
    // taking it leaves the request waiting for the adapter's own.
    const auto sender = SenderOf(pdu).value_or(std::pair<uint32_t, uint16_t>{0, 0});
    client->foreign_.Count(sender.first, sender.second);
    return 0;
  }
  // Only the request this client waits for: a resend is no end, and an older request the
  // library still holds never answers into a later one.
  if (requestId != client->awaited_ || operation == NETSNMP_CALLBACK_OP_RESEND ||
      operation == NETSNMP_CALLBACK_OP_CONNECT) {
    return 1;
  }
  if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu != nullptr) {
    client->answer_ = snmp_clone_pdu(pdu);
    client->answer_status_ = client->answer_ != nullptr ? STAT_SUCCESS : STAT_ERROR;
  } else {
    client->answer_status_ = operation == NETSNMP_CALLBACK_OP_TIMED_OUT ? STAT_TIMEOUT : STAT_ERROR;
  }
  client->awaited_ = 0;
  return 1;
}

int KT_SNMP::Transact(netsnmp_pdu* request, netsnmp_pdu** response) {
  *response = nullptr;
  if (stop_ && stop_()) {
    Diag() << "KT_SNMP: stopping, the request is not sent\n";
    snmp_free_pdu(request);
    return STAT_TIMEOUT;
  }
  if (exchange_) return exchange_(request, response);
  if (session_ == nullptr) {
    snmp_free_pdu(request);
    return STAT_ERROR;
  }

  // As the library's synchronous exchange (the same retries and time-outs), but the answer must
  // come from the adapter (the library matches only the request id), and the wait goes in
  // slices, so that a stop ends the wait for a silent adapter at once. A stop closes the session
  // with the request still pending.
  answer_ = nullptr;
  answer_status_ = STAT_ERROR;
  awaited_ = snmp_sess_async_send(session_, request, TakeAnswer, this);
  if (awaited_ == 0) {
    snmp_free_pdu(request);
    return STAT_ERROR;
  }
  while (awaited_ != 0) {
    if (stop_ && stop_()) {
      Diag() << "KT_SNMP: stopping, the wait for the answer ends\n";
      awaited_ = 0;
      CloseSession();
      return STAT_TIMEOUT;
    }
    int descriptors = 0;
    int block = 1;
    fd_set readable;
    FD_ZERO(&readable);
    timeval wait{};
    snmp_sess_select_info(session_, &descriptors, &readable, &wait, &block);
    const timeval slice{0, kStopSliceUs};
    if (block == 1 || timercmp(&wait, &slice, >)) wait = slice;
    const int ready = select(descriptors, &readable, nullptr, nullptr, &wait);
    if (ready > 0) {
      snmp_sess_read(session_, &readable);
    } else if (ready < 0 && errno != EINTR) {
      awaited_ = 0;
      CloseSession();
      return STAT_ERROR;
    }
    // Also after a read: datagrams that keep coming and are no answer must not hold the request
    // past its time-outs.
    if (awaited_ != 0) snmp_sess_timeout(session_);
  }
  foreign_.Report();
  *response = answer_;
  answer_ = nullptr;
  return answer_status_;
}

int KT_SNMP::TakeResponse(int status, netsnmp_pdu* response, KT_SnmpValue& value, const char* who) {
  value = KT_SnmpValue();
  const std::string peer = peer_.value_or("");
  if (status == STAT_TIMEOUT) {
    Diag() << "KT_SNMP::" << who << ": status == STAT_TIMEOUT\n";
    Diag() << "No response from " << peer << kendl;
    return 0;
  }
  if (status != STAT_SUCCESS || response == nullptr) {
    Diag() << "KT_SNMP::" << who << ": status == STAT_ERROR\n";
    Diag() << "An error occurred, Quitting\n";
    return 0;
  }
  if (response->errstat != SNMP_ERR_NOERROR) {
    // The error index counts the variables from 1; an index the response does not hold names
    // nothing.
    const netsnmp_variable_list* culprit = nullptr;
    if (response->errindex >= 1) {
      long i = 1;
      for (netsnmp_variable_list* v = response->variables; v != nullptr; v = v->next_variable, ++i) {
        if (i == response->errindex) {
          culprit = v;
          break;
        }
      }
    }
    const std::string name =
        culprit != nullptr && culprit->name_length <= kMaxOidLength ? OidToText(culprit->name, culprit->name_length) : "";
    if (response->errstat == SNMP_ERR_NOSUCHNAME) {
      Diag() << "KT_SNMP:" << who << ": This name doesn't exist: \n" << name << kendl;
    } else {
      Diag() << "KT_SNMP::" << who << ": Error in packet, reason: " << snmp_errstring(static_cast<int>(response->errstat))
             << " " << name << kendl;
    }
    return 0;
  }
  Diag() << "KT_SNMP::" << who << ": errstat == SNMP_ERR_NOERROR\n";
  int count = 0;
  for (netsnmp_variable_list* v = response->variables; v != nullptr && count < 64; v = v->next_variable, ++count) {
    KT_SnmpValue shown;
    if (CopySnmpVariable(v, shown) == 1) {
      Diag() << OidToText(v->name, v->name_length) << " = " << DescribeValue(shown) << kendl;
    } else {
      Diag() << "KT_SNMP::" << who << ": malformed variable in the response\n";
    }
  }
  if (response->variables == nullptr) {
    Diag() << "KT_SNMP::" << who << ": response without variables\n";
    return 0;
  }
  if (CopySnmpVariable(response->variables, value) != 1) return 0;
  return 1;
}

int KT_SNMP::SNMPCommand(int pduType, const char* oidText, KT_SnmpValue& value, char typeLetter, const char* valueText) {
  value = KT_SnmpValue();
  const std::vector<oid> name = ParseOidText(oidText);
  if (name.empty()) {
    Diag() << "KT_SNMP::SNMPCommand: Invalid object identifier: " << (oidText != nullptr ? oidText : "NULL") << kendl;
    return -1;
  }
  if (pduType != kSnmpGet && pduType != kSnmpGetNext && pduType != kSnmpSet) return -1;
  netsnmp_pdu* pdu = NewPdu(pduType);
  if (pdu == nullptr) return -1;
  if (pduType == kSnmpSet) {
    if (snmp_add_var(pdu, name.data(), name.size(), typeLetter, valueText) != 0) {
      Diag() << "KT_SNMP::SNMPCommand: value cannot be encoded for " << oidText << kendl;
      snmp_free_pdu(pdu);
      return -1;
    }
  } else if (snmp_add_null_var(pdu, name.data(), name.size()) == nullptr) {
    snmp_free_pdu(pdu);
    return -1;
  }
  netsnmp_pdu* response = nullptr;
  const int status = Transact(pdu, &response);
  int result = TakeResponse(status, response, value, "SNMPCommand");
  if (response != nullptr) snmp_free_pdu(response);
  // The answer to a GET must be the object asked for.
  if (result == 1 && pduType == kSnmpGet) {
    bool same = value.GetOidCount() == static_cast<int>(name.size());
    for (size_t i = 0; same && i < name.size(); ++i) same = value.GetOid()[i] == name[i];
    if (!same) {
      Diag() << "KT_SNMP::SNMPCommand: the answer names another object than " << oidText << kendl;
      value = KT_SnmpValue();
      result = 0;
    }
  }
  return result;
}

std::optional<std::string> KT_SNMP::GetOidText(int row) { return ::GetOidText(row); }

std::optional<std::string> KT_SNMP::RowOidWithIndex(int row, int64_t index) {
  const MibTableRow* r = GetMibRow(row);
  if (r == nullptr || r->count < 1 || r->count > 13 || index < 0 || index > 0xFFFFFFFFll) return std::nullopt;
  std::vector<uint32_t> parts;
  for (int i = 0; i + 1 < r->count; ++i) parts.push_back(static_cast<uint32_t>(r->subIds[i]));
  parts.push_back(static_cast<uint32_t>(index));
  // Relative to mib-2 like every other text of the table.
  if (parts.size() <= kMib2PrefixLength) return std::nullopt;
  for (size_t i = 0; i < kMib2PrefixLength; ++i) {
    if (parts[i] != kMib2Prefix[i]) return std::nullopt;
  }
  std::string text;
  for (size_t i = kMib2PrefixLength; i < parts.size(); ++i) {
    if (!text.empty()) text += '.';
    text += std::to_string(parts[i]);
  }
  return text;
}

int KT_SNMP::GetRow(int row, KT_SnmpValue& value) {
  const std::optional<std::string> text = GetOidText(row);
  if (!text) {
    value = KT_SnmpValue();
    return -1;
  }
  return Get(text->c_str(), value);
}

std::optional<int32_t> KT_SNMP::GetRowInteger(int row) {
  KT_SnmpValue value;
  if (GetRow(row, value) != 1) return std::nullopt;
  return SnmpInteger(value);
}

std::optional<int32_t> KT_SNMP::GetRowCount(int row) {
  KT_SnmpValue value;
  if (GetRow(row, value) != 1) return std::nullopt;
  return SnmpCount(value);
}

std::optional<std::string> KT_SNMP::GetRowText(int row) {
  KT_SnmpValue value;
  if (GetRow(row, value) != 1) return std::nullopt;
  const MibTableRow* r = GetMibRow(row);
  return SnmpText(value, r != nullptr && r->maxLength > 0 ? static_cast<size_t>(r->maxLength) : 0);
}

int KT_SNMP::snmp_add_var(netsnmp_pdu* pdu, const oid* name, size_t nameLength, char type, const char* value) {
  if (pdu == nullptr || name == nullptr || nameLength == 0 || nameLength > kMaxOidLength) return -1;
  const char* text = value != nullptr ? value : "";
  netsnmp_variable_list* added = nullptr;
  switch (type) {
    case 'a': {
      in_addr address{};
      if (inet_pton(AF_INET, text, &address) != 1) return -1;
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_IPADDRESS, &address.s_addr, 4);
      break;
    }
    case 's':
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_OCTET_STR, text, std::strlen(text));
      break;
    case 'd':
    case 'x': {
      std::vector<uint8_t> bytes;
      if (!ParseByteList(text, type == 'x' ? 16 : 10, bytes)) return -1;
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_OCTET_STR, bytes.data(), bytes.size());
      break;
    }
    case 'i': {
      long long v = 0;
      if (!ParseDecimal(text, INT32_MIN, INT32_MAX, v)) return -1;
      const long number = static_cast<long>(v);
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_INTEGER, &number, sizeof number);
      break;
    }
    case 't': {
      long long v = 0;
      if (!ParseDecimal(text, 0, UINT32_MAX, v)) return -1;
      const u_long ticks = static_cast<u_long>(v);
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_TIMETICKS, &ticks, sizeof ticks);
      break;
    }
    case 'n':
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_NULL, nullptr, 0);
      break;
    case 'o': {
      const std::vector<oid> objid = ParseOidText(text);
      if (objid.empty()) return -1;
      added = snmp_pdu_add_variable(pdu, name, nameLength, ASN_OBJECT_ID, objid.data(), objid.size() * sizeof(oid));
      break;
    }
    default:
      Diag() << "KT_SNMP::snmp_add_var: Internal error in type switching\n";
      return -1;
  }
  return added != nullptr ? 0 : -1;
}

// ---- console side -----------------------------------------------------------------------------

int KT_SNMP::SendRequest(KT_Address& host, const uint8_t* frame, int length) {
  pending_.Clear();
  pending_failed_ = false;
  // The key is read only when the frame holds it: marker, length, type, (GET: extra code),
  // key length, key.
  if (frame == nullptr || length < 5 || frame[0] != kScpFrameMarker) {
    Diag() << "KT_SNMP::SendRequest: not an SCP frame\n";
    return -1;
  }
  const int type = frame[3];
  const int keyLengthAt = type == SCP_GET ? 5 : 4;
  if (length <= keyLengthAt) {
    Diag() << "KT_SNMP::SendRequest: frame too short\n";
    return -1;
  }
  const int keyLength = frame[keyLengthAt];
  const int keyAt = keyLengthAt + 1;
  if (keyLength < 1 || keyAt + keyLength > length) {
    Diag() << "KT_SNMP::SendRequest: key does not fit the frame\n";
    return -1;
  }

  SetSession(host.GetHostName(), host.GetReadCommunity(), host.GetWriteCommunity(), 0);
  if (OpenSession() < 0) return -1;

  pending_.type = type;
  pending_.key.assign(frame + keyAt, frame + keyAt + keyLength);
  int result = 0;
  if (type == SCP_GET) {
    result = RefreshBlock(pending_.key.data(), keyLength);
  } else if (type == SCP_SET) {
    result = SNMPSet(frame, length);
  }
  if (result < 0) {
    // The session stays open (the next SetSession closes it); the answer tells the console
    // that the request failed.
    pending_failed_ = true;
    return -1;
  }
  CloseSession();
  return result;
}

int KT_SNMP::AnswerPendingRequest(KT_Address& replyAddress, std::vector<uint8_t>& reply) {
  reply.clear();
  if (pending_.key.empty()) return 0;
  KT_ScpMessage message = pending_;
  const bool failed = pending_failed_;
  pending_.Clear();
  pending_failed_ = false;

  if (message.type == SCP_GET) {
    if (failed) {
      image_->BuildStatusReply(message, reply, SCP_GET_FAILED);
    } else {
      image_->ExecuteCommand(message, reply);
    }
  } else {
    image_->BuildStatusReply(message, reply, failed ? SCP_SET_FAILED : SCP_SET_OK);
  }

  const std::string peer = peer_.value_or("");
  replyAddress.SetType(ADDRESS_IP);
  replyAddress.SetHostName(peer.c_str());
  replyAddress.SetAddressString(peer.c_str());
  replyAddress.SetPort(htons(kReplyPort));
  replyAddress.SetReadCommunity(read_community_ ? read_community_->c_str() : nullptr);
  replyAddress.SetWriteCommunity(write_community_ ? write_community_->c_str() : nullptr);
  return reply.empty() ? 0 : 1;
}

int KT_SNMP::RefreshBlock(const uint8_t* key, int keyLength) {
  if (key == nullptr || keyLength < 1) return -1;
  switch (key[0]) {
    case BLOCK_STATUS:
      return UpdateStatus();
    case BLOCK_UPS_INFO: {
      const int result = UpdateInfo();
      UpdateCapabilities();
      return result;
    }
    case BLOCK_METERS:
      return UpdateMeters();
    case BLOCK_CONFIG:
      return ReadDevicesAndLocation();
    default:
      return -1;
  }
}

int KT_SNMP::SNMPSet(const uint8_t* frame, int length) {
  if (frame == nullptr || length < 1) return -1;
  Diag() << "KT_SNMP::SNMPSet\n";
  KT_ScpMessage message;
  if (DecodeScpFrame(frame, static_cast<size_t>(length), message) < 0) return -1;
  std::vector<uint8_t> reply;
  if (image_->ExecuteCommand(message, reply) < 0) return -1;
  // The image answers a SET with its status reply; anything but "Set OK" means it refused the
  // data, and the adapter must not get the old texts.
  if (!reply.empty()) {
    KT_ScpMessage answer;
    if (DecodeScpFrame(reply.data(), reply.size(), answer) >= 0 && answer.type == SCP_STATUS &&
        (answer.data.empty() || answer.data[0] != SCP_SET_OK)) {
      return -1;
    }
  }
  if (message.KeyByte(kScpKeyBlock) != BLOCK_CONFIG) return -1;
  return WriteDevicesAndLocation();
}
