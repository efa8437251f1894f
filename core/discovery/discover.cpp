#include "core/discovery/discover.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "core/base/ktdiag.h"
#include "core/scp/scp_frame.h"

namespace {

// The 6 data bytes that stand for a network adapter in an answer to the discovery request.
constexpr uint8_t kAdapterAnswerData[] = {0x05, 0x04, 0x00, 0x50, 0x10, 0x24};
constexpr uint8_t kIpxBroadcastNode[kIpxNodeLength] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace

int ParseSapResponse(const uint8_t* data, size_t length, std::vector<KT_SapEntry>& entries) {
  entries.clear();
  if (data == nullptr || length < 2) return 0;
  const uint16_t type = static_cast<uint16_t>(GetBe16(data));
  if (type != kSapGeneralResponse && type != kSapNearestResponse) return 0;
  const size_t count = length / kSapEntryLength;
  for (size_t i = 0; i < count; ++i) {
    const size_t at = 2 + kSapEntryLength * i;
    // An entry's fields end 62 bytes after its start; the hop count is read when present.
    if (at + 62 > length) break;
    const uint8_t* e = data + at;
    KT_SapEntry entry;
    entry.serverType = static_cast<uint16_t>(GetBe16(e));
    const char* name = reinterpret_cast<const char*>(e + 2);
    entry.name.assign(name, ::strnlen(name, kSapNameLength));
    std::memcpy(&entry.network, e + 50, 4);
    std::memcpy(entry.node, e + 54, kIpxNodeLength);
    std::memcpy(&entry.socket, e + 60, 2);
    if (at + 64 <= length) entry.hops = static_cast<uint16_t>(GetBe16(e + 62));
    entries.push_back(std::move(entry));
  }
  return type;
}

void SapEntryAddress(const KT_SapEntry& entry, KT_Address& address) {
  address.Clear();
  address.SetType(ADDRESS_IPX);
  address.SetHostName(entry.name.c_str());
  address.SetIpAddress(entry.network);
  address.SetNode(entry.node);
  address.SetPort(entry.socket);
}

int TranslateAdapterReply(const uint8_t* buffer, size_t length, KT_ScpMessage& message) {
  if (buffer == nullptr || length == 0 || buffer[0] != kAdapterQueryMarker) return 0;
  message.Clear();
  message.type = SCP_DATA;
  message.extraCode = 0;
  message.key = {2, 1, 0};
  message.data.assign(std::begin(kAdapterAnswerData), std::end(kAdapterAnswerData));
  return 1;
}

KT_Discover::KT_Discover() = default;

KT_Discover::KT_Discover(int openSocket) {
  socket_ = openSocket;
  open_ = 1;
  EnableBroadcast();
}

KT_Discover::~KT_Discover() = default;

int KT_Discover::EnableBroadcast() {
  KT_UDP::EnableBroadcast();
  ResetHostCursor();
  ResetSubnetCursor();
  return 0;
}

void KT_Discover::AddUnique(std::list<std::string>& list, const char* text) {
  if (text == nullptr) return;
  if (std::find(list.begin(), list.end(), text) != list.end()) return;
  list.emplace_front(text);
}

void KT_Discover::AddHost(const char* text) {
  AddUnique(hosts_, text);
}

void KT_Discover::AddSubnet(const char* text) {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  AddUnique(subnets_, text);
}

int KT_Discover::RemoveSubnet(const char* text) {
  if (text == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  auto it = std::find(subnets_.begin(), subnets_.end(), text);
  if (it == subnets_.end()) return 0;
  subnets_.erase(it);
  return 1;
}

void KT_Discover::ClearSubnets() {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  subnets_.clear();
}

bool KT_Discover::Next(const std::list<std::string>& list, size_t& cursor, std::string& text) {
  if (cursor >= list.size()) return false;
  auto it = list.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(cursor));
  text = *it;
  ++cursor;
  return true;
}

bool KT_Discover::GetNextHost(std::string& text) {
  return Next(hosts_, host_cursor_, text);
}

int KT_Discover::GetSubnetCount() const {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  return static_cast<int>(subnets_.size());
}

std::vector<std::string> KT_Discover::FailedSubnets() const {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  return failed_subnets_;
}

void KT_Discover::ResetSubnetCursor() {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  subnet_cursor_ = 0;
}

bool KT_Discover::GetNextSubnet(std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  return Next(subnets_, subnet_cursor_, text);
}

void KT_Discover::PrintHost() {
  for (const auto& h : hosts_) Diag() << "KT_Discover::PrintHost: host = " << h << kendl;
}

void KT_Discover::PrintSubnets() {
  for (const auto& s : subnets_) Diag() << "KT_Discover::PrintSubnets: subnet = " << s << kendl;
}

void KT_Discover::SendAdapterQuery(KT_Address* address) {
  uint8_t query[4] = {kAdapterQueryMarker, 0x01, 0x36, 0};
  query[3] = static_cast<uint8_t>(0u - (query[0] + query[1] + query[2]));
  if (Send(address, query, sizeof query) < 0) {
    LogError(ERR_ADAPTER_QUERY, ADAPTER_QUERY_FN_SEND, ADAPTER_QUERY_SEND_FAILED, 0);
  }
}

int KT_Discover::SendIpxServiceQueries() {
  if (ipx_.Open(0) < 0) return 0;
  ipx_.EnableBroadcast();

  KT_Address to(ADDRESS_IPX);
  to.SetIpAddress(0);
  to.SetNode(kIpxBroadcastNode);
  to.SetPort(htons(kSapSocket));
  for (uint16_t queryType : {kSapNearestQuery, kSapGeneralQuery}) {
    uint8_t query[4];
    PutBe16(query, queryType);
    PutBe16(query + 2, kSapServerType);
    if (ipx_.SendDatagram(&to, query, sizeof query, kIpxDontRoute) < 0) return -1;
  }
  return 1;
}

int KT_Discover::SendDiscoveryRequest(int adapterQuery, int udp, int ipx) {
  KT_Address work(ADDRESS_IP);
  const KT_ScpMessage request(SCP_GET, {2, 1, 0}, {}, 0);

  EnableBroadcast();

  std::vector<uint8_t> frame;
  if (BuildScpFrame(request, frame, this) < 0) return -1;

  // The list is held for the whole loop: a dialog may edit it on another thread meanwhile.
  std::lock_guard<std::recursive_mutex> lock(subnet_mutex_);
  failed_subnets_.clear();
  if (subnets_.empty()) AddSubnet(kBroadcastSubnet);
  subnet_cursor_ = 0;

  // A subnet that cannot be sent to (a mistyped name, say) does not keep the others from
  // being asked; the caller learns which failed from FailedSubnets.
  int sent = 0;
  if (udp) {
    for (const auto& subnet : subnets_) {
      work.SetAddressString(subnet.c_str());
      work.SetPort(htons(kScpUdpPort));
      work.SetType(ADDRESS_IP);
      if (Send(&work, frame) < 0) {
        failed_subnets_.push_back(subnet);
      } else {
        ++sent;
        if (adapterQuery) SendAdapterQuery(&work);
      }
      work.Clear();
    }
  }

  const int ipxResult = ipx ? SendIpxServiceQueries() : 0;
  if (ipxResult > 0) ++sent;
  if (udp && sent == 0) return -1;
  if (!udp && ipxResult < 0) return -1;
  return 1;
}

int KT_Discover::CollectReplies(const std::function<void(KT_Address&)>& found, int udp, int ipx) {
  KT_Address work(ADDRESS_IP);
  std::vector<uint8_t> buffer;

  if (udp) {
    while (WaitForData(kDiscoveryWaitSeconds) > 0) {
      const int r = Receive(&work, buffer);
      if (r < 0) continue;
      if (r > 0) {
        const char* name = work.GetHostName();
        if (name != nullptr && *name != '\0') {
          AddHost(name);
          if (found) found(work);
        }
      }
      buffer.clear();
      work.Clear();
    }
  }

  if (ipx) {
    std::vector<KT_SapEntry> entries;
    while (ipx_.WaitForData(kDiscoveryWaitSeconds) > 0) {
      const int r = ipx_.Receive(&work, buffer);
      if (r < 0) continue;
      if (r > 0 && ParseSapResponse(buffer.data(), buffer.size(), entries) != 0) {
        for (const auto& entry : entries) {
          if (entry.serverType != kSapServerType || entry.name.empty()) continue;
          AddHost(entry.name.c_str());
          if (found) {
            SapEntryAddress(entry, work);
            found(work);
          }
        }
      }
      buffer.clear();
      work.Clear();
    }
  }
  return 1;
}

int KT_Discover::CollectReplies(KT_NetClientList* list, int udp, int ipx) {
  if (list == nullptr) return CollectReplies(nullptr, udp, ipx);
  return CollectReplies([list](KT_Address& found) { list->Add(found, nullptr, 0, 0, 0); }, udp, ipx);
}
