// The MIB module the suite ships (packaging/mib.txt), read by net-snmp's MIB parser: it parses
// without a complaint and names every UPS MIB object of the agent's object table under the
// table's identifier and type, and the alarms, tests and traps the agent uses.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/adapters/mib_table.h"
#include "core/adapters/snmp.h"
#include "core/adapters/trap_alarm_ids.h"
#include "tests/support/snmp_peer.h"

namespace {

constexpr const char* kModule = "VIGIL-UPS-MIB";

std::vector<std::string>* g_messages = nullptr;

int CollectLogMessage(int /*major*/, int /*minor*/, void* serverArg, void* /*clientArg*/) {
  const auto* message = static_cast<const snmp_log_message*>(serverArg);
  if (g_messages != nullptr && message != nullptr && message->msg != nullptr) {
    g_messages->push_back(message->msg);
  }
  return 0;
}

// Reads the shipped module once for the process, with the parser's errors and warnings on; the
// parser's messages, if any.
const std::vector<std::string>& LoadShippedModule() {
  static std::vector<std::string> messages = [] {
    std::vector<std::string> collected;
    KT_SNMP::Initialize();
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 1);
    netsnmp_log_handler* handler = netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, CollectLogMessage, nullptr);
    g_messages = &collected;
    const std::string path = testing_support::SourceDir() + "/packaging/mib.txt";
    if (read_mib(path.c_str()) == nullptr) collected.push_back("read_mib failed for " + path);
    g_messages = nullptr;
    snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, CollectLogMessage, nullptr, 0);
    if (handler != nullptr) netsnmp_remove_loghandler(handler);
    return collected;
  }();
  return messages;
}

// The node of the module for a descriptor, or null.
tree* Node(const std::string& name) {
  tree* node = find_tree_node(name.c_str(), -1);
  if (node == nullptr) return nullptr;
  char module[256];
  return std::string(module_name(node->modid, module)) == kModule ? node : nullptr;
}

std::vector<int64_t> OidOf(const tree* node) {
  std::vector<int64_t> parts;
  for (; node != nullptr; node = node->parent) parts.insert(parts.begin(), static_cast<int64_t>(node->subid));
  return parts;
}

// The object identifier of a table row without its instance (the last sub-identifier: 0 for a
// scalar, the line number or the index placeholder for a column).
std::vector<int64_t> ObjectOfRow(const MibTableRow& row) {
  return std::vector<int64_t>(row.subIds, row.subIds + row.count - 1);
}

std::vector<std::string> Objects(const tree* node) {
  std::vector<std::string> names;
  for (const varbind_list* v = node->varbinds; v != nullptr; v = v->next) names.emplace_back(v->vblabel);
  return names;
}

TEST(ShippedMibModule, ParsesCleanlyAndNamesEveryUpsObjectOfTheTable) {
  const std::vector<std::string>& messages = LoadShippedModule();
  for (const std::string& m : messages) ADD_FAILURE() << "parser: " << m;

  for (int r = kRowUpsIdentManufacturer; r <= kRowUpsConfigAudibleStatus; ++r) {
    const MibTableRow* row = GetMibRow(r);
    SCOPED_TRACE(MibRowName(r));
    const tree* node = Node(MibRowName(r));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(OidOf(node), ObjectOfRow(*row));
    EXPECT_EQ(mib_to_asn_type(node->type), row->asnType);
  }

  // Whatever the agent sets on the adapter is writable.
  for (int r : {kRowUpsIdentAttachedDevices, kRowUpsTestId, kRowUpsTestSpinLock, kRowUpsShutdownAfterDelay,
                kRowUpsStartupAfterDelay}) {
    SCOPED_TRACE(MibRowName(r));
    const tree* node = Node(MibRowName(r));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->access, MIB_ACCESS_READWRITE);
  }
}

TEST(ShippedMibModule, NamesTheAlarmsTestsAndTrapsTheAgentUses) {
  ASSERT_TRUE(LoadShippedModule().empty());
  auto nameOf = [](const std::string& relative) -> std::string {
    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (read_objid((".1.3.6.1.2.1." + relative).c_str(), name, &length) == 0) return "";
    const tree* node = get_tree(name, length, get_tree_head());
    return node != nullptr && OidOf(node).size() == length ? node->label : "";
  };

  // Every well-known alarm the agent reports in its alarm traps, and those it maps.
  for (int code = 0; code < 25; ++code) {
    const int n = WellKnownAlarmForScpAlarm(code);
    if (n > 0) {
      EXPECT_NE(nameOf("33.1.6.3." + std::to_string(n)), "") << "status alarm " << code;
    }
  }
  EXPECT_EQ(nameOf("33.1.6.3.2"), "upsAlarmOnBattery");
  EXPECT_EQ(nameOf("33.1.6.3.3"), "upsAlarmLowBattery");
  EXPECT_EQ(nameOf("33.1.6.3.6"), "upsAlarmInputBad");
  EXPECT_EQ(nameOf("33.1.6.3.24"), "upsAlarmTestInProgress");
  EXPECT_EQ(nameOf(kQuickBatteryTestId), "upsTestQuickBatteryTest");
  EXPECT_EQ(nameOf(kGeneralSystemsTestId), "upsTestGeneralSystemsTest");

  // The traps: enterprise upsTraps, the specific type the last number, the variables as the
  // agent sends them.
  struct TrapCase {
    int specific;
    const char* name;
    std::vector<int> rows;
  };
  const TrapCase traps[] = {
      {UPS_TRAP_ON_BATTERY,
       "upsTrapOnBattery",
       {kRowUpsEstimatedMinutesRemaining, kRowUpsSecondsOnBattery, kRowUpsConfigLowBattTime}},
      {UPS_TRAP_TEST_COMPLETED,
       "upsTrapTestCompleted",
       {kRowUpsTestId, kRowUpsTestSpinLock, kRowUpsTestResultsSummary, kRowUpsTestResultsDetail,
        kRowUpsTestStartTime, kRowUpsTestElapsedTime}},
      {UPS_TRAP_ALARM_ENTRY_ADDED, "upsTrapAlarmEntryAdded", {kRowUpsAlarmId, kRowUpsAlarmDescr}},
      {UPS_TRAP_ALARM_ENTRY_REMOVED, "upsTrapAlarmEntryRemoved", {kRowUpsAlarmId, kRowUpsAlarmDescr}},
  };
  for (const TrapCase& t : traps) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(nameOf("33.2." + std::to_string(t.specific)), t.name);
    const tree* node = Node(t.name);
    ASSERT_NE(node, nullptr);
    std::vector<std::string> expected;
    for (int r : t.rows) expected.emplace_back(MibRowName(r));
    EXPECT_EQ(Objects(node), expected);
  }
}

}  // namespace
