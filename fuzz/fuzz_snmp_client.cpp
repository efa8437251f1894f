// Fuzzes the adapter client's handling of what an adapter answers: every request the client
// makes gets a response built from the input (status, error status and index, and a list of
// variables with arbitrary names, types, lengths and values), and the client's operations
// turn those into block fields of its image. Nothing goes on the network. The image must stay
// usable: a whole-block read of each block the client fills still answers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/scp/scp_frame.h"
#include "core/adapters/snmp.h"
#include "core/adapters/snmp_convert.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint64_t Word() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | Byte();
    return v;
  }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> out;
    while (n-- > 0 && !Empty()) out.push_back(Byte());
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

const uint8_t kTypes[] = {ASN_INTEGER, ASN_OCTET_STR, ASN_OBJECT_ID, ASN_NULL,   ASN_IPADDRESS,
                          ASN_COUNTER, ASN_GAUGE,     ASN_TIMETICKS, ASN_OPAQUE, ASN_COUNTER64};

// One variable named after the request's (or anything), of any type and value.
void AddVariable(Input& in, netsnmp_pdu* response, const netsnmp_variable_list* asked) {
  std::vector<oid> name;
  const uint8_t how = in.Byte() % 4;
  if (asked != nullptr && how < 3) {
    name.assign(asked->name, asked->name + asked->name_length);
    if (how == 1) name.push_back(in.Byte());           // as a GETNEXT answer in the column
    if (how == 2 && !name.empty()) name.back() = in.Word();  // any row, any value
  } else {
    const size_t n = in.Byte() % 24;
    for (size_t i = 0; i < n; ++i) name.push_back(i < 6 ? kMib2Prefix[i] : static_cast<oid>(in.Word() >> (in.Byte() % 64)));
  }
  if (name.empty()) name.push_back(0);

  const uint8_t pick = in.Byte();
  const uint8_t type = kTypes[pick % sizeof kTypes];
  netsnmp_variable_list* var = nullptr;
  switch (type) {
    case ASN_INTEGER:
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS: {
      const long v = static_cast<long>(in.Word() >> (in.Byte() % 64));
      const size_t width = (pick & 0x80) != 0 ? sizeof(int) : sizeof(long);
      var = snmp_pdu_add_variable(response, name.data(), name.size(), type, &v, width);
      break;
    }
    case ASN_OBJECT_ID: {
      std::vector<oid> value;
      const size_t n = in.Byte() % 20;
      for (size_t i = 0; i < n; ++i) value.push_back(static_cast<oid>(in.Word() >> (in.Byte() % 64)));
      var = snmp_pdu_add_variable(response, name.data(), name.size(), type, value.data(), value.size() * sizeof(oid));
      break;
    }
    case ASN_NULL:
      var = snmp_pdu_add_variable(response, name.data(), name.size(), type, nullptr, 0);
      break;
    case ASN_COUNTER64: {
      counter64 c{};
      c.high = in.Word();
      c.low = in.Word();
      var = snmp_pdu_add_variable(response, name.data(), name.size(), type, &c, sizeof c);
      break;
    }
    default: {
      std::vector<uint8_t> bytes = in.Bytes(in.Byte() + (in.Byte() % 2) * 256);
      var = snmp_pdu_add_variable(response, name.data(), name.size(), type, bytes.data(), bytes.size());
      break;
    }
  }
  // Now and then a type byte the value was not made for (a number's slot read as anything).
  if (var != nullptr && (pick & 0x40) != 0) var->type = in.Byte();
}

// The exchange: the request is consumed; the response is built from the input.
int Respond(Input& in, netsnmp_pdu* request, netsnmp_pdu** response) {
  const netsnmp_variable_list* asked = request->variables;
  std::vector<oid> askedName;
  if (asked != nullptr) askedName.assign(asked->name, asked->name + asked->name_length);
  snmp_free_pdu(request);
  if (in.Empty()) return STAT_TIMEOUT;
  const uint8_t status = in.Byte();
  if (status % 16 == 0) return STAT_TIMEOUT;
  if (status % 16 == 1) return STAT_ERROR;
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_RESPONSE);
  const uint8_t err = in.Byte();
  pdu->errstat = err < 200 ? 0 : err % 8;
  pdu->errindex = static_cast<int8_t>(in.Byte());
  netsnmp_variable_list askedVar{};
  askedVar.name = askedName.data();
  askedVar.name_length = askedName.size();
  const int count = status / 16 % 5;
  for (int i = 0; i < count; ++i) AddVariable(in, pdu, askedName.empty() ? nullptr : &askedVar);
  *response = pdu;
  return STAT_SUCCESS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    KT_SNMP::Initialize();
    return true;
  }();
  (void)started;
  Input in(data, size);
  const bool agentSide = (in.Byte() & 1) != 0;
  KT_SCP agentImage;
  KT_SNMP client(agentSide ? &agentImage : nullptr, agentSide ? 1 : 0);
  client.SetSession("127.0.0.1", "public", "private", 161);
  client.SetExchange([&in](netsnmp_pdu* request, netsnmp_pdu** response) { return Respond(in, request, response); });

  for (int step = 0; step < 24 && !in.Empty(); ++step) {
    switch (in.Byte() % 16) {
      case 0: client.UpdateStatus(); break;
      case 1: client.UpdateInfo(); break;
      case 2: client.UpdateCapabilities(); break;
      case 3: client.UpdateMeters(); break;
      case 4: client.InitiateBatteryTest(); break;
      case 5: client.UpdateBatteryTest(); break;
      case 6: client.ProbeAdapter(); break;
      case 7: client.ReadAdapterText(); break;
      case 8: {
        int startup = 0;
        int shutdown = 0;
        client.ReadControlDelays(startup, shutdown);
        break;
      }
      case 9: client.TestWriteAccess(); break;
      case 10: client.ReadDevicesAndLocation(); break;
      case 11: client.StartSleepMode(); break;
      case 12: {
        const std::vector<uint8_t> frame = in.Bytes(in.Byte() % 48);
        client.SNMPSet(frame.data(), static_cast<int>(frame.size()));
        break;
      }
      case 13: {
        const std::vector<uint8_t> key = in.Bytes(in.Byte() % 4);
        client.RefreshBlock(key.data(), static_cast<int>(key.size()));
        break;
      }
      case 14: {
        KT_SnmpValue value;
        client.GetNext("33.1.6.2.1.2.0", value);
        SnmpInteger(value);
        SnmpText(value, 63);
        WellKnownAlarmNumber(value);
        break;
      }
      default: client.UpdateRatings(); break;
    }
  }

  KT_SCP& image = client.Image();
  std::vector<uint8_t> reply;
  for (uint8_t id : {1, 2, 3, 5, 7}) {
    Check(image.ExecuteCommand(KT_ScpMessage(SCP_GET, {id}), reply) >= 0);
    Check(!reply.empty());
  }
  return 0;
}
