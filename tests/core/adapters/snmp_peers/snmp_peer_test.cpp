// The SNMP test peers, driven through net-snmp's single-session API as the adapter client uses it.
#include "tests/support/snmp_peer.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/adapters/mib_table.h"

using testing_support::ParseTrapLog;
using testing_support::SnmpAdapterPeer;
using testing_support::TrapReceiver;

namespace {

void InitNetSnmpOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The library's state directory is wanted only while it starts (see core/snmp.cpp).
    std::string persist = (std::filesystem::temp_directory_path() / "vigil-netsnmp-XXXXXX").string();
    ASSERT_NE(::mkdtemp(persist.data()), nullptr);
    std::filesystem::create_directory(std::filesystem::path(persist) / "cert_indexes");
    setenv("MIBS", "", 1);
    setenv("MIBDIRS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, persist.c_str());
    init_snmp("vigil-tests");
    std::filesystem::remove_all(persist);
  });
}

struct Var {
  std::vector<oid> name;
  u_char type = 0;
  long integer = 0;
  std::string text;
  std::vector<oid> objid;
};

struct Reply {
  int status = STAT_ERROR;
  long errstat = -1;
  long errindex = -1;
  std::vector<Var> vars;
};

std::vector<oid> Oid(const std::string& text) {
  oid buffer[MAX_OID_LEN];
  size_t len = MAX_OID_LEN;
  std::string full = text[0] == '.' ? text : ".1.3.6.1.2.1." + text;  // relative texts are under mib-2
  if (read_objid(full.c_str(), buffer, &len) == 0) return {};
  return std::vector<oid>(buffer, buffer + len);
}

std::string OidString(const std::vector<oid>& name) {
  std::string text;
  for (oid part : name) text += "." + std::to_string(part);
  return text;
}

// One SNMPv1 session on the peer through the single-session API.
class Session {
 public:
  Session(const std::string& peer, const std::string& community) {
    InitNetSnmpOnce();
    netsnmp_session setup;
    snmp_sess_init(&setup);
    setup.version = SNMP_VERSION_1;
    setup.peername = const_cast<char*>(peer.c_str());
    setup.community = reinterpret_cast<u_char*>(const_cast<char*>(community.c_str()));
    setup.community_len = community.size();
    setup.retries = 1;
    setup.timeout = 500000;
    handle_ = snmp_sess_open(&setup);
  }
  ~Session() {
    if (handle_ != nullptr) snmp_sess_close(handle_);
  }
  bool open() const { return handle_ != nullptr; }

  // pairs of (OID text, (type letter, value text)); GET/GETNEXT ignore the values.
  Reply Request(int command, const std::vector<std::pair<std::string, std::pair<char, std::string>>>& vars) {
    Reply reply;
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    for (const auto& [name, value] : vars) {
      std::vector<oid> o = Oid(name);
      if (command == SNMP_MSG_SET) {
        snmp_add_var(pdu, o.data(), o.size(), value.first, value.second.c_str());
      } else {
        snmp_add_null_var(pdu, o.data(), o.size());
      }
    }
    netsnmp_pdu* response = nullptr;
    reply.status = snmp_sess_synch_response(handle_, pdu, &response);
    if (reply.status == STAT_SUCCESS && response != nullptr) {
      reply.errstat = response->errstat;
      reply.errindex = response->errindex;
      for (netsnmp_variable_list* v = response->variables; v != nullptr; v = v->next_variable) {
        Var var;
        var.name.assign(v->name, v->name + v->name_length);
        var.type = v->type;
        if (v->type == ASN_OCTET_STR) {
          var.text.assign(reinterpret_cast<const char*>(v->val.string), v->val_len);
        } else if (v->type == ASN_OBJECT_ID) {
          var.objid.assign(v->val.objid, v->val.objid + v->val_len / sizeof(oid));
        } else if (v->val.integer != nullptr && v->val_len >= sizeof(long)) {
          var.integer = *v->val.integer;
        }
        reply.vars.push_back(var);
      }
    }
    if (response != nullptr) snmp_free_pdu(response);
    return reply;
  }

  Reply Get(const std::string& name) { return Request(SNMP_MSG_GET, {{name, {}}}); }
  Reply GetNext(const std::string& name) { return Request(SNMP_MSG_GETNEXT, {{name, {}}}); }
  Reply Set(const std::string& name, char type, const std::string& value) {
    return Request(SNMP_MSG_SET, {{name, {type, value}}});
  }

 private:
  void* handle_ = nullptr;
};

// A GET that must succeed; returns its one variable.
Var GetOk(Session& s, const std::string& name) {
  Reply r = s.Get(name);
  EXPECT_EQ(r.status, STAT_SUCCESS) << name;
  EXPECT_EQ(r.errstat, SNMP_ERR_NOERROR) << name;
  if (r.vars.size() != 1) {
    ADD_FAILURE() << name << ": " << r.vars.size() << " variables";
    return Var{};
  }
  return r.vars[0];
}

long GetInt(Session& s, const std::string& name) { return GetOk(s, name).integer; }

class SnmpPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_.SetUptime(100);
    ASSERT_TRUE(peer_.Start()) << peer_.error();
  }
  SnmpAdapterPeer peer_;
};

TEST_F(SnmpPeerTest, GetAnswersAdapterObjectsWithTheirTypes) {
  peer_.SetText("ident_model", "Meridian 40K");
  peer_.SetInt("config_output_va", 40000);
  Session s(peer_.peerName(), "public");
  ASSERT_TRUE(s.open());

  Reply r = s.Request(SNMP_MSG_GET, {{"33.1.1.2.0", {}}, {"33.1.9.5.0", {}}, {"33.1.6.1.0", {}}, {"1.6.0", {}}});
  ASSERT_EQ(r.status, STAT_SUCCESS);
  ASSERT_EQ(r.errstat, SNMP_ERR_NOERROR);
  ASSERT_EQ(r.vars.size(), 4u);
  EXPECT_EQ(r.vars[0].type, ASN_OCTET_STR);
  EXPECT_EQ(r.vars[0].text, "Meridian 40K");
  EXPECT_EQ(r.vars[1].type, ASN_INTEGER);
  EXPECT_EQ(r.vars[1].integer, 40000);
  EXPECT_EQ(r.vars[2].type, ASN_GAUGE);
  EXPECT_EQ(r.vars[2].integer, 0);
  EXPECT_EQ(r.vars[3].text, "Test bench");
  EXPECT_EQ(GetOk(s, "1.3.0").integer, 10000);  // sysUpTime follows the frozen clock

  const std::string binary("Z\xe9ro\x01", 5);  // every byte passes unchanged
  peer_.SetText("ident_name", binary);
  EXPECT_EQ(GetOk(s, "33.1.1.5.0").text, binary);
}

TEST_F(SnmpPeerTest, MissingObjectGivesNoSuchNameAtItsIndex) {
  Session s(peer_.peerName(), "public");
  Reply r = s.Request(SNMP_MSG_GET, {{"33.1.1.1.0", {}}, {"33.1.1.99.0", {}}});
  ASSERT_EQ(r.status, STAT_SUCCESS);
  EXPECT_EQ(r.errstat, SNMP_ERR_NOSUCHNAME);
  EXPECT_EQ(r.errindex, 2);

  peer_.SetRaw("missing", "[\"1.3.6.1.2.1.33.1.6.1.0\"]");
  EXPECT_EQ(s.Get("33.1.6.1.0").errstat, SNMP_ERR_NOSUCHNAME);
  peer_.Remove("missing");
  EXPECT_EQ(s.Get("33.1.6.1.0").errstat, SNMP_ERR_NOERROR);
}

TEST_F(SnmpPeerTest, GetNextWalksTheAlarmTableInOrderAndLeavesTheColumn) {
  peer_.SetRaw("alarms", "[2, 6]");
  Session s(peer_.peerName(), "public");
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 2);

  Reply r = s.GetNext("33.1.6.2.1.2");
  ASSERT_EQ(r.errstat, SNMP_ERR_NOERROR);
  EXPECT_EQ(OidString(r.vars[0].name), ".1.3.6.1.2.1.33.1.6.2.1.2.1");
  EXPECT_EQ(OidString(r.vars[0].objid), ".1.3.6.1.2.1.33.1.6.3.2");
  r = s.GetNext("33.1.6.2.1.2.1");
  EXPECT_EQ(OidString(r.vars[0].name), ".1.3.6.1.2.1.33.1.6.2.1.2.2");
  EXPECT_EQ(OidString(r.vars[0].objid), ".1.3.6.1.2.1.33.1.6.3.6");
  r = s.GetNext("33.1.6.2.1.2.2");  // past the column: the next column's first row
  EXPECT_EQ(OidString(r.vars[0].name), ".1.3.6.1.2.1.33.1.6.2.1.3.1");
  EXPECT_EQ(r.vars[0].type, ASN_TIMETICKS);
  EXPECT_EQ(r.vars[0].integer, 10000);

  // Clearing one alarm keeps the other's id; a new one gets the next id.
  peer_.SetRaw("alarms", "[6, 3]");
  r = s.GetNext("33.1.6.2.1.1");
  EXPECT_EQ(OidString(r.vars[0].name), ".1.3.6.1.2.1.33.1.6.2.1.1.2");
  r = s.GetNext("33.1.6.2.1.1.2");
  EXPECT_EQ(OidString(r.vars[0].name), ".1.3.6.1.2.1.33.1.6.2.1.1.3");
  EXPECT_EQ(r.vars[0].integer, 3);

  // A count that does not match the table, and the end of everything served.
  peer_.SetInt("alarms_present", 200);
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 200);
  r = s.GetNext(".1.3.6.1.4.1.32473.1.10.3.0");
  EXPECT_EQ(r.errstat, SNMP_ERR_NOSUCHNAME);
}

TEST_F(SnmpPeerTest, SetNeedsTheWriteCommunityAndIsLogged) {
  Session writer(peer_.peerName(), "private");
  Session reader(peer_.peerName(), "public");
  Reply r = reader.Set("33.1.8.2.0", 'i', "120");
  ASSERT_EQ(r.status, STAT_SUCCESS);
  EXPECT_EQ(r.errstat, SNMP_ERR_NOSUCHNAME);  // SNMPv1's answer to a refused write
  EXPECT_TRUE(peer_.Sets().empty());

  r = writer.Request(SNMP_MSG_SET, {{"33.1.8.2.0", {'i', "120"}}, {"1.6.0", {'s', "Room \"7\"\tnorth"}}});
  ASSERT_EQ(r.status, STAT_SUCCESS);
  EXPECT_EQ(r.errstat, SNMP_ERR_NOERROR);
  std::vector<testing_support::SnmpSetRecord> sets = peer_.Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].oid, ".1.3.6.1.2.1.33.1.8.2.0");
  EXPECT_EQ(sets[0].type, "integer");
  EXPECT_EQ(sets[0].value, "120");
  EXPECT_EQ(sets[0].result, "DONE");
  EXPECT_EQ(sets[1].value, "Room \"7\"\tnorth");
  EXPECT_EQ(GetOk(reader, "1.6.0").text, "Room \"7\"\tnorth");
  EXPECT_EQ(writer.Set("1.4.0", 's', "caf\xe9").errstat, SNMP_ERR_NOERROR);
  EXPECT_EQ(peer_.Sets().back().value, "caf\xe9");

  // The shutdown delay counts down on the adapter's clock; -1 cancels it.
  EXPECT_EQ(GetInt(reader, "33.1.8.2.0"), 120);
  peer_.SetUptime(130);
  EXPECT_EQ(GetInt(reader, "33.1.8.2.0"), 90);
  EXPECT_EQ(writer.Set("33.1.8.2.0", 'i', "-1").errstat, SNMP_ERR_NOERROR);
  EXPECT_EQ(GetInt(reader, "33.1.8.2.0"), -1);

  // Read-only objects, wrong types and over-long texts are refused by the adapter.
  EXPECT_NE(writer.Set("33.1.9.5.0", 'i', "5000").errstat, SNMP_ERR_NOERROR);
  EXPECT_EQ(writer.Set("33.1.1.6.0", 'i', "1").errstat, SNMP_ERR_BADVALUE);
  EXPECT_EQ(writer.Set("33.1.1.6.0", 's', std::string(64, 'x')).errstat, SNMP_ERR_BADVALUE);
  EXPECT_EQ(peer_.Sets().back().result, "wrong-length");

  // An unknown community gets no answer, but the packet is seen.
  const int before = peer_.PacketsReceived();
  Session stranger(peer_.peerName(), "nobody");
  EXPECT_EQ(stranger.Get("1.6.0").status, STAT_TIMEOUT);
  EXPECT_GE(peer_.PacketsReceived(), before + 1);
}

TEST_F(SnmpPeerTest, BatteryTestRunsThenFinishesWithItsOutcome) {
  peer_.SetInt("test_duration", 8);
  peer_.SetInt("test_outcome", 3);
  peer_.SetText("test_detail", "Battery weak");
  Session s(peer_.peerName(), "private");
  EXPECT_EQ(GetInt(s, "33.1.7.3.0"), 6);  // no tests initiated

  const long lock = GetInt(s, "33.1.7.2.0");
  Reply r = s.Request(SNMP_MSG_SET, {{"33.1.7.2.0", {'i', std::to_string(lock)}},
                                     {"33.1.7.1.0", {'o', ".1.3.6.1.2.1.33.1.7.7.4"}}});
  ASSERT_EQ(r.errstat, SNMP_ERR_NOERROR);
  EXPECT_EQ(GetInt(s, "33.1.7.2.0"), lock + 1);
  EXPECT_EQ(GetInt(s, "33.1.7.3.0"), 5);  // in progress
  EXPECT_EQ(OidString(GetOk(s, "33.1.7.1.0").objid), ".1.3.6.1.2.1.33.1.7.7.4");
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 1);
  EXPECT_EQ(OidString(GetOk(s, "33.1.6.2.1.2.1").objid), ".1.3.6.1.2.1.33.1.6.3.24");

  // A stale spin lock, and a test id without the spin lock, are refused.
  r = s.Request(SNMP_MSG_SET, {{"33.1.7.2.0", {'i', std::to_string(lock)}},
                               {"33.1.7.1.0", {'o', ".1.3.6.1.2.1.33.1.7.7.3"}}});
  EXPECT_EQ(r.errstat, SNMP_ERR_BADVALUE);
  EXPECT_EQ(r.errindex, 1);
  EXPECT_EQ(s.Set("33.1.7.1.0", 'o', ".1.3.6.1.2.1.33.1.7.7.3").errstat, SNMP_ERR_BADVALUE);

  peer_.SetUptime(107);
  EXPECT_EQ(GetInt(s, "33.1.7.3.0"), 5);
  EXPECT_EQ(GetInt(s, "33.1.7.6.0"), 700);
  peer_.SetUptime(109);
  EXPECT_EQ(GetInt(s, "33.1.7.3.0"), 3);  // done with error
  EXPECT_EQ(GetOk(s, "33.1.7.4.0").text, "Battery weak");
  EXPECT_EQ(GetInt(s, "33.1.7.5.0"), 10000);
  EXPECT_EQ(GetInt(s, "33.1.7.6.0"), 800);
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 0);  // test-in-progress alarm gone
}

TEST_F(SnmpPeerTest, StateChangesWhileRunning) {
  Session s(peer_.peerName(), "public");
  EXPECT_EQ(GetInt(s, "33.1.4.1.0"), 3);  // output source normal
  peer_.SetBool("on_battery", true);
  EXPECT_EQ(GetInt(s, "33.1.4.1.0"), 5);
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 1);
  EXPECT_EQ(OidString(GetOk(s, "33.1.6.2.1.2.1").objid), ".1.3.6.1.2.1.33.1.6.3.2");
  peer_.SetUptime(145);
  EXPECT_EQ(GetInt(s, "33.1.2.2.0"), 45);  // seconds on battery
  peer_.SetBool("on_battery", false);
  EXPECT_EQ(GetInt(s, "33.1.6.1.0"), 0);
  EXPECT_EQ(GetInt(s, "33.1.2.2.0"), 0);

  peer_.SetRaw("input_lines",
               "[{\"voltage\": 230, \"frequency\": 500}, {\"voltage\": 231}, {\"voltage\": 229}]");
  EXPECT_EQ(GetInt(s, "33.1.3.2.0"), 3);
  EXPECT_EQ(GetInt(s, "33.1.3.3.1.3.3"), 229);
  peer_.SetInt("input_num_lines", 64);  // a count the table does not back
  EXPECT_EQ(GetInt(s, "33.1.3.2.0"), 64);
  EXPECT_EQ(s.Get("33.1.3.3.1.3.4").errstat, SNMP_ERR_NOSUCHNAME);

  peer_.SetRaw("override", "{\"1.3.6.1.2.1.33.1.6.1.0\": {\"type\": \"string\", \"value\": \"lots\"}}");
  Var v = GetOk(s, "33.1.6.1.0");
  EXPECT_EQ(v.type, ASN_OCTET_STR);
  EXPECT_EQ(v.text, "lots");
}

// Every object of the client's table that the adapter has answers with the table's type and
// within the table's length, so the peer and the table agree.
TEST_F(SnmpPeerTest, ServesEveryTableRowWithTheTablesType) {
  const std::string threeLines = "[{\"voltage\": 230}, {\"voltage\": 230}, {\"voltage\": 230}]";
  peer_.SetRaw("input_lines", threeLines);
  peer_.SetRaw("output_lines", threeLines);
  peer_.SetRaw("bypass_lines", threeLines);
  peer_.SetRaw("alarms", "[6]");
  Session s(peer_.peerName(), "public");
  for (int row = 0; row < kRowEnd; ++row) {
    if (row >= kRowIfNumber && row <= kRowSnmpEnableAuthenTraps) continue;  // interface 5: none here
    const MibTableRow* entry = GetMibRow(row);
    std::string name;
    for (int i = 0; i < entry->count; ++i) {
      name += "." + std::to_string(entry->subIds[i] == kMibIndexPlaceholder ? 1 : entry->subIds[i]);
    }
    SCOPED_TRACE(std::string(MibRowName(row)) + " " + name);
    Var v = GetOk(s, name);
    EXPECT_EQ(v.type, entry->asnType);
    if (v.type == ASN_OCTET_STR) {
      EXPECT_LE(static_cast<int>(v.text.size()), entry->maxLength);
    }
    if (v.type == ASN_OBJECT_ID) {
      EXPECT_LE(static_cast<int>(v.objid.size()), entry->maxLength);
    }
  }
}

TEST(TrapReceiverTest, V1TrapIsReceivedAndParsed) {
  TrapReceiver receiver;
  ASSERT_TRUE(receiver.Start()) << receiver.error();
  InitNetSnmpOnce();
  netsnmp_session setup;
  snmp_sess_init(&setup);
  setup.version = SNMP_VERSION_1;
  std::string peer = receiver.peerName();
  setup.peername = peer.data();
  std::string community = "private";
  setup.community = reinterpret_cast<u_char*>(community.data());
  setup.community_len = community.size();
  void* handle = snmp_sess_open(&setup);
  ASSERT_NE(handle, nullptr);

  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP);
  std::vector<oid> enterprise = Oid(".1.3.6.1.2.1.33.2");
  pdu->enterprise = static_cast<oid*>(malloc(enterprise.size() * sizeof(oid)));
  std::memcpy(pdu->enterprise, enterprise.data(), enterprise.size() * sizeof(oid));
  pdu->enterprise_length = enterprise.size();
  const uint8_t agent[4] = {127, 0, 0, 9};
  std::memcpy(pdu->agent_addr, agent, 4);
  pdu->trap_type = SNMP_TRAP_ENTERPRISESPECIFIC;
  pdu->specific_type = 3;
  pdu->time = 4321;
  std::vector<oid> id = Oid("33.1.6.2.1.1.7"), descr = Oid("33.1.6.2.1.2.7"), detail = Oid("33.1.7.4.0");
  snmp_add_var(pdu, id.data(), id.size(), 'i', "6");
  snmp_add_var(pdu, descr.data(), descr.size(), 'o', ".1.3.6.1.2.1.33.1.6.3.6");
  snmp_add_var(pdu, detail.data(), detail.size(), 's', "line \"one\"\nline two");
  ASSERT_NE(snmp_sess_send(handle, pdu), 0);  // the session owns the PDU now
  snmp_sess_close(handle);

  std::vector<testing_support::ReceivedTrap> traps = receiver.WaitForTraps(1);
  ASSERT_EQ(traps.size(), 1u) << receiver.Log();
  const testing_support::ReceivedTrap& trap = traps[0];
  EXPECT_EQ(trap.version, 0);
  EXPECT_EQ(trap.enterprise, ".1.3.6.1.2.1.33.2");
  EXPECT_EQ(trap.genericType, 6);
  EXPECT_EQ(trap.specificType, 3);
  EXPECT_EQ(trap.agentAddress, "127.0.0.9");
  EXPECT_EQ(trap.community, "private");
  EXPECT_EQ(trap.timeStamp, 4321u);
  ASSERT_EQ(trap.variables.size(), 3u);
  EXPECT_EQ(trap.variables[0].oid, ".1.3.6.1.2.1.33.1.6.2.1.1.7");
  EXPECT_EQ(trap.variables[0].type, "INTEGER");
  EXPECT_EQ(trap.variables[0].value, "6");
  EXPECT_EQ(trap.variables[1].type, "OID");
  EXPECT_EQ(trap.variables[1].value, ".1.3.6.1.2.1.33.1.6.3.6");
  EXPECT_EQ(trap.variables[2].type, "STRING");
  EXPECT_EQ(trap.variables[2].value, "line \"one\"\nline two");
}

TEST(TrapReceiverTest, LogParserKeepsOnlyCompleteRecords) {
  const std::string log =
      "NET-SNMP version 5.9.3\n"
      "TRAP\t0\t.1.3.6.1.2.1.33.2\t6\t.1\t10.0.0.1\tpublic\t77\n"
      "VAR\t\n"
      "END\n"
      "TRAP\t0\t.1.3.6.1.2.1.33.2\t6\t.2\t10.0.0.1\tpublic\t78\n"
      "VAR\t.1.3.6.1.2.1.33.1.7.5.0 = Timeticks: (77) 0:00:00.77\n"
      "VAR\t.1.3.6.1.2.1.33.1.7.4.0 = \"\"\n"
      "END\n"
      "TRAP\t0\t.1.3.6.1.2.1.33.2\t6\t.3\t10.0.0.1\tpublic\t79\n"
      "VAR\t.1.3.6.1.2.1.33.1.6.2.1.1.1 = INTEGER: 2\n";  // still being written
  std::vector<testing_support::ReceivedTrap> traps = ParseTrapLog(log);
  ASSERT_EQ(traps.size(), 2u);
  EXPECT_EQ(traps[0].specificType, 1);
  EXPECT_TRUE(traps[0].variables.empty());
  ASSERT_EQ(traps[1].variables.size(), 2u);
  EXPECT_EQ(traps[1].variables[0].value, "77");
  EXPECT_EQ(traps[1].variables[1].type, "STRING");
  EXPECT_EQ(traps[1].variables[1].value, "");
}

}  // namespace
