// The adapter MIB object table: every SNMP object that the network adapter client names by a
// row number instead of spelling out its object identifier.
//
// 117 rows, numbered 0..116:
//   0-5     MIB-II system group (instance 0)
//   6-12    ifNumber, then ifIndex, ifSpeed, ifPhysAddress, ifAdminStatus, ifOperStatus and
//           ifLastChange of interface 5
//   13      snmpEnableAuthenTraps
//   14-68   the UPS MIB (RFC 1628, mib-2.33): table columns carry the instance 3, the alarm
//           table columns end in the index placeholder -1
//   69-115  the adapter maker's private objects under 1.3.6.1.4.1.32473.1 (32473 is the
//           enterprise number set aside for examples and documentation, RFC 5612); they mirror
//           the UPS MIB groups: .1 ident, .2 battery, .3 input, .4 output, .5 bypass,
//           .6 alarms and alarm events, .7 test, .8 control, .9 config, .10 trap settings;
//           scalars end in .0, table columns end in -1
//   116     the end row, without sub-identifiers
//
// Every row is 13 sub-identifiers (unused places 0), their count, the ASN.1 type and the largest
// value in bytes. The table is read-only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct MibTableRow {
  int32_t subIds[13];
  int32_t count;
  int32_t asnType;
  int32_t maxLength;
};

inline constexpr int kMibTableRows = 117;
inline constexpr int32_t kMibIndexPlaceholder = -1;

// ASN.1 type bytes of the table's third column.
inline constexpr int32_t kAsnInteger = 2;
inline constexpr int32_t kAsnOctetString = 4;
inline constexpr int32_t kAsnObjectId = 6;
inline constexpr int32_t kAsnCounter = 65;
inline constexpr int32_t kAsnGauge = 66;
inline constexpr int32_t kAsnTimeTicks = 67;

// Row numbers by object.
enum MibRow : int {
  kRowSysDescr = 0,
  kRowSysObjectId = 1,
  kRowSysUpTime = 2,
  kRowSysContact = 3,
  kRowSysName = 4,
  kRowSysLocation = 5,
  kRowIfNumber = 6,
  kRowIfIndex = 7,
  kRowIfSpeed = 8,
  kRowIfPhysAddress = 9,
  kRowIfAdminStatus = 10,
  kRowIfOperStatus = 11,
  kRowIfLastChange = 12,
  kRowSnmpEnableAuthenTraps = 13,
  kRowUpsIdentManufacturer = 14,
  kRowUpsIdentModel = 15,
  kRowUpsIdentUpsSoftwareVersion = 16,
  kRowUpsIdentAgentSoftwareVersion = 17,
  kRowUpsIdentName = 18,
  kRowUpsIdentAttachedDevices = 19,
  kRowUpsBatteryStatus = 20,
  kRowUpsSecondsOnBattery = 21,
  kRowUpsEstimatedMinutesRemaining = 22,
  kRowUpsEstimatedChargeRemaining = 23,
  kRowUpsBatteryVoltage = 24,
  kRowUpsBatteryCurrent = 25,
  kRowUpsBatteryTemperature = 26,
  kRowUpsInputLineBads = 27,
  kRowUpsInputNumLines = 28,
  kRowUpsInputLineIndex = 29,
  kRowUpsInputFrequency = 30,
  kRowUpsInputVoltage = 31,
  kRowUpsInputCurrent = 32,
  kRowUpsInputTruePower = 33,
  kRowUpsOutputSource = 34,
  kRowUpsOutputFrequency = 35,
  kRowUpsOutputNumLines = 36,
  kRowUpsOutputLineIndex = 37,
  kRowUpsOutputVoltage = 38,
  kRowUpsOutputCurrent = 39,
  kRowUpsOutputPower = 40,
  kRowUpsOutputPercentLoad = 41,
  kRowUpsBypassFrequency = 42,
  kRowUpsBypassNumLines = 43,
  kRowUpsBypassLineIndex = 44,
  kRowUpsBypassVoltage = 45,
  kRowUpsAlarmsPresent = 46,
  kRowUpsAlarmId = 47,
  kRowUpsAlarmDescr = 48,
  kRowUpsAlarmTime = 49,
  kRowUpsTestId = 50,
  kRowUpsTestSpinLock = 51,
  kRowUpsTestResultsSummary = 52,
  kRowUpsTestResultsDetail = 53,
  kRowUpsTestStartTime = 54,
  kRowUpsTestElapsedTime = 55,
  kRowUpsShutdownType = 56,
  kRowUpsShutdownAfterDelay = 57,
  kRowUpsStartupAfterDelay = 58,
  kRowUpsRebootWithDuration = 59,
  kRowUpsAutoRestart = 60,
  kRowUpsConfigInputVoltage = 61,
  kRowUpsConfigInputFreq = 62,
  kRowUpsConfigOutputVoltage = 63,
  kRowUpsConfigOutputFreq = 64,
  kRowUpsConfigOutputVA = 65,
  kRowUpsConfigOutputPower = 66,
  kRowUpsConfigLowBattTime = 67,
  kRowUpsConfigAudibleStatus = 68,
  kRowXIdentManufacturer = 69,
  kRowXIdentModel = 70,
  kRowXIdentSoftwareVersion = 71,
  kRowXBatTimeRemaining = 72,
  kRowXBatVoltage = 73,
  kRowXBatCurrent = 74,
  kRowXEstimatedChargeRemaining = 75,
  kRowXInputFrequency = 76,
  kRowXUpsInputLineBads = 77,
  kRowXUpsInputNumLines = 78,
  kRowXInputLineIndex = 79,
  kRowXInputVoltage = 80,
  kRowXInputCurrent = 81,
  kRowXInputTruePower = 82,
  kRowXOutputLoad = 83,
  kRowXOutputFrequency = 84,
  kRowXOutputNumLines = 85,
  kRowXOutputLineIndex = 86,
  kRowXOutputVoltage = 87,
  kRowXOutputCurrent = 88,
  kRowXOutputPower = 89,
  kRowXBypassFrequency = 90,
  kRowXBypassNumLines = 91,
  kRowXBypassLineIndex = 92,
  kRowXBypassVoltage = 93,
  kRowXAlarmsPresent = 94,
  kRowXAlarmId = 95,
  kRowXAlarmDescr = 96,
  kRowXAlarmTime = 97,
  kRowXAlarmNumEvents = 98,
  kRowXAlarmEventId = 99,
  kRowXAlarmDateAndTime = 100,
  kRowXAlarmEventKind = 101,
  kRowXAlarmEventDescr = 102,
  kRowXTestBattery = 103,
  kRowXTestBatteryStatus = 104,
  kRowXControlOutputOffDelay = 105,
  kRowXControlOutputOnDelay = 106,
  kRowXControlOutputOffTrapDelay = 107,
  kRowXConfigOutputVoltage = 108,
  kRowXConfigInputVoltage = 109,
  kRowXConfigOutputPower = 110,
  kRowXConfigOutputFreq = 111,
  kRowXConfigDateAndTime = 112,
  kRowXMaxTrapLevel = 113,
  kRowXSendTrapType = 114,
  kRowXTrapMessage = 115,
  kRowEnd = 116,
};

// The private enterprise subtree of rows 69..115.
inline constexpr int32_t kAdapterEnterprise = 32473;
inline constexpr const char* kAdapterPrivateOid = "1.3.6.1.4.1.32473.1";

// The row, or null for a number outside 0..116.
const MibTableRow* GetMibRow(int row);

// The object's name (MIB-II and UPS MIB names, the private rows by their table labels such as
// "XIDENTMANUFACTURER"); "" for the end row, null outside 0..116. For traces and tests.
const char* MibRowName(int row);

// Text of the row's object identifier relative to mib-2, from the first "33" on (for example
// "33.1.6.1.0", "33.1.6.2.1.2.-1"). Empty (the null text) for a row outside 0..116, a row
// without sub-identifiers, or a row whose identifier holds no "33"; so only rows 14..68 give
// a text.
std::optional<std::string> GetOidText(int row);
