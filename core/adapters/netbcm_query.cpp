// KT_NetBCM: the one-shot checks the adapter dialogs make -- identification of an adapter by
// name and the access-code check.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "core/base/ktdiag.h"
#include "core/adapters/netbcm.h"
#include "core/scp/scp.h"

namespace {

// Seconds QueryAdapter waits for each of up to three datagrams.
constexpr int kQueryWait = 3;
constexpr int kQueryDatagrams = 3;
// The configuration block must reach the adapter version bytes 42 and 43.
constexpr size_t kConfigVersionBytes = 44;
// CheckAccessCode: seconds beyond the adapter time-out for the first wait, the second wait,
// and the pause before the third datagram.
constexpr int kCheckExtraWait = 15;
constexpr int kCheckSecondWait = 25;
constexpr int kCheckPause = 2;
// The shortest acknowledgement: a block with its code and command.
constexpr size_t kAckBytes = kBcmReplyOverhead + 2;
// The channel's last system errors after which a missing answer reads as -1.
constexpr int32_t kNoAnswerErrors[] = {16, 32, 48, 80, 240};

}  // namespace

int KT_NetBCM::QueryAdapter(const char* host, NetBcmAdapterIdentity& out) {
  out = NetBcmAdapterIdentity();
  held_.clear();
  if (Initialize() <= 0) {
    ShowMessage("TCP/IP Socket not available");
    return 0;
  }
  if (OpenChannel(0) < 0) {
    ShowMessage("Couldn't open socket port");
    return 0;
  }
  const std::string name = host != nullptr ? host : "";
  KT_Address target(ADDRESS_IP);
  target.SetHostName(name.c_str());
  target.SetPort(adapter_.GetPort() != 0 ? adapter_.GetPort() : htons(static_cast<uint16_t>(kNetBcmAdapterPort)));

  bool any = false;
  bool gotStatus = false;
  bool gotId = false;
  bool gotConfig = false;
  bool configShort = false;
  // The name is looked up once.
  const std::optional<Endpoint> peer = name.empty() ? std::nullopt : EndpointOf(target);
  KT_Address to = SendAddress(peer);
  if (!name.empty() && Send(&to, Query(NETBCM_QUERY_IDENTIFICATION)) > 0 && peer) {
    for (int i = 0; i < kQueryDatagrams && !(gotStatus && gotId && gotConfig); ++i) {
      if (ReceiveFrom(*peer, static_cast<int64_t>(kQueryWait) * second_ms_) <= 0) continue;
      any = true;
      std::vector<uint8_t> data;
      if (FirstNetBcmBlockType(reply_.data(), reply_.size()) == BCM_REPLY_STATUS) {
        if (ParseNetBcmReply(reply_.data(), reply_.size(), BCM_REPLY_STATUS, data, &counters_) != NETBCM_REPLY_COMPLETE ||
            data.empty()) {
          ShowMessage("Didn't receive a valid Status block from the Cradlenet 5");
          continue;
        }
        out.upsState = data[0];
        if (data.size() > 1) out.upsFlags = data[1];
        gotStatus = true;
        if (ParseNetBcmReply(reply_.data(), reply_.size(), BCM_REPLY_IDENTIFICATION, data, &counters_) !=
            NETBCM_REPLY_COMPLETE) {
          ShowMessage("Didn't receive a ID block from the Cradlenet");
          continue;
        }
        NetBcmIdentification id;
        const int stage = ParseNetBcmIdentification(data, id);
        if (stage != NETBCM_ID_COMPLETE && stage < NETBCM_ID_NO_METERS) {
          const int which = stage <= NETBCM_ID_NO_RATING ? 2 : stage == NETBCM_ID_NO_NAME ? 3 : 4;
          ShowMessage("Didn't receive a valid ID block from the Cradlenet " + std::to_string(which));
          continue;
        }
        int64_t va = id.va;
        const NetBcmModelName* model = FindNetBcmModel(id.name);
        if (model != nullptr && model->ratingPerPhase) va *= std::max(1, id.phases);
        out.upsText = id.name + " " + std::to_string(va) + " VA";
        gotId = true;
      } else if (ParseNetBcmReply(reply_.data(), reply_.size(), BCM_REPLY_CONFIG, data, &counters_) ==
                 NETBCM_REPLY_COMPLETE) {
        if (data.size() < kConfigVersionBytes) {
          ShowMessage("Didn't receive a valid Config block from the Cradlenet 2");
          configShort = true;
          continue;
        }
        char text[64];
        std::snprintf(text, sizeof text, "Cradlenet version %x.%02x", data[43], data[42]);
        out.adapterText = text;
        gotConfig = true;
      }
    }
  }
  CloseChannel();
  if (!any) {
    ShowMessage("Failed to get any data from " + name);
    out = NetBcmAdapterIdentity();
    return 0;
  }
  if (!gotStatus) ShowMessage("Didn't receive a valid Status block from the Cradlenet");
  if (!gotConfig && !configShort) ShowMessage("Didn't receive a valid Config block from the Cradlenet");
  if (!gotStatus) {
    out.upsText.clear();
    return 0;
  }
  return 1;
}

int KT_NetBCM::CheckAccessCode(const char* host) {
  int timeout;
  {
    auto lock = scp_->Lock();
    timeout = static_cast<int>(std::min<uint32_t>(scp_->config.GetCommTimeout(), 3600));
  }
  bool found = false;
  bool tooShort = false;
  held_.clear();
  if (host != nullptr && Open() == 0) {
    KT_Address target(ADDRESS_IP);
    target.SetHostName(host);
    target.SetPort(adapter_.GetPort() != 0 ? adapter_.GetPort() : htons(static_cast<uint16_t>(kNetBcmAdapterPort)));
    std::vector<uint8_t> request;
    AppendSelect(request, kNetBcmUpsIndicator);
    AppendAccess(request);
    AppendPayload(request, {BCM_CMD_CHECK_ACCESS});
    const std::optional<Endpoint> peer = EndpointOf(target);  // the name looked up once
    KT_Address to = SendAddress(peer);
    if (Send(&to, request) > 0 && peer) {
      int ready = ReceiveFrom(*peer, static_cast<int64_t>(timeout + kCheckExtraWait) * second_ms_);
      if (ready <= 0) ready = ReceiveFrom(*peer, static_cast<int64_t>(kCheckSecondWait) * second_ms_);
      for (int i = 0; ready > 0 && i < kQueryDatagrams && !found; ++i) {
        if (i == kQueryDatagrams - 1) HoldReplies(*peer, kCheckPause);
        if (i > 0 && ReceiveFrom(*peer, 0) <= 0) continue;
        std::vector<uint8_t> data;
        if (ParseNetBcmReply(reply_.data(), reply_.size(), BCM_REPLY_ACK, data, &counters_) == NETBCM_REPLY_COMPLETE &&
            !data.empty()) {
          found = true;
        } else if (reply_.size() < kAckBytes) {
          tooShort = true;
        }
      }
    }
  }
  const int32_t lastError = systemError;
  CloseChannel();
  if (found) return 1;
  if (tooShort) return -3;
  return std::find(std::begin(kNoAnswerErrors), std::end(kNoAnswerErrors), lastError) != std::end(kNoAnswerErrors)
             ? -1
             : -2;
}
