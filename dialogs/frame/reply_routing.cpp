#include "dialogs/frame/reply_routing.h"

#include <QCoreApplication>

#include "dialogs/frame/kt_dialog.h"

namespace {

KTDialog* g_slots[kDialogSlotCount] = {};

const char* const kSlotNames[kDialogSlotCount] = {
    "pMimic",
    "pSerialDeviceConfig",
    "pUpsInfoDlg",
    "pUpsConfiguration",
    "pBugDlg",
    "pMeters",
    "pEMailConfig",
    "pNetworkAdapterConfig",
    "pNetworkConfiguration",
    "pPassWordDlg",
    "pReboot",
    "pTerminateDaemon",
    "pShutdownDlg",
    "pSchedShutdownDlg",
    "pEventLogConfig",
    "pBatteryTest",
    "pPagerConfig",
    "pBatteryTestResults",
    "pEventNotification",
    "pUserWarn",
    "pNetworkManager",
    "pExecuteCommand",
    "pLogEvent",
    "pEventLogDisplay",
    "pAlarmHistory",
    "pDlgVoltageInput",
    "pDlgVoltageOutput",
    "pDlgCurrentOutput",
    "pBatteryInfo",
    "pTestPager",
    "pReceptacleControl",
    "pNetworkMessage",
    "pOscDialog",
};

// One cell of the table: a block, a dialog and the branches it shows (none listed: every
// branch). Cells are in the order the dialogs are visited: row by row, cell by cell.
struct Cell {
  int block;
  DialogSlot slot;
  int branches[3];
};

using S = DialogSlot;
// The routing table for Set OK and Get OK.
const Cell kCells[] = {
    {1, S::Mimic, {}},
    {2, S::SerialDeviceConfig, {1, 4}},
    {2, S::Mimic, {}},
    {2, S::UpsInfoDlg, {}},
    {2, S::UpsConfiguration, {2}},
    {2, S::BugDlg, {}},
    {2, S::Meters, {2, 4}},
    {2, S::EMailConfig, {4}},
    {3, S::Meters, {}},
    {4, S::UpsInfoDlg, {}},
    {4, S::SerialDeviceConfig, {1, 11, 13}},
    {4, S::NetworkAdapterConfig, {7, 12}},
    {4, S::NetworkConfiguration, {10}},
    {4, S::PassWordDlg, {8}},
    {4, S::Reboot, {8}},
    {4, S::TerminateDaemon, {8}},
    {4, S::ShutdownDlg, {2, 9}},
    {4, S::SchedShutdownDlg, {8, 9}},
    {4, S::UpsConfiguration, {3}},
    {4, S::EventLogConfig, {5}},
    {4, S::BatteryTest, {6}},
    {4, S::PagerConfig, {11}},
    {4, S::BatteryTestResults, {6}},
    {4, S::Meters, {2}},
    {5, S::EventNotification, {}},
    {5, S::PagerConfig, {5}},
    {5, S::EMailConfig, {3}},
    {5, S::UserWarn, {}},
    {5, S::NetworkManager, {}},
    {5, S::ExecuteCommand, {}},
    {5, S::LogEvent, {}},
    {5, S::NetworkMessage, {}},
    {5, S::ShutdownDlg, {}},
    {6, S::EventLogDisplay, {1}},
    {6, S::BugDlg, {1}},
    {7, S::BatteryTestResults, {1}},
    {8, S::AlarmHistory, {1}},
    {9, S::DlgVoltageInput, {1}},
    {9, S::DlgVoltageOutput, {2}},
    {9, S::DlgCurrentOutput, {3}},
    {9, S::OscDialog, {1}},
    {24, S::SchedShutdownDlg, {1}},
    {25, S::BatteryTest, {1}},
    {26, S::BatteryInfo, {1}},
    {27, S::TestPager, {7}},
    {28, S::ReceptacleControl, {1}},
    {28, S::ShutdownDlg, {1}},
    {28, S::SchedShutdownDlg, {1}},
};

// A listed branch also matches branch 0, the whole block.
bool Matches(const Cell& cell, unsigned branch) {
  if (cell.branches[0] == 0 || branch == 0) return true;
  for (int b : cell.branches) {
    if (b != 0 && static_cast<unsigned>(b) == branch) return true;
  }
  return false;
}

}  // namespace

const char* DialogSlotName(DialogSlot slot) {
  const int i = static_cast<int>(slot);
  return i >= 0 && i < kDialogSlotCount ? kSlotNames[i] : "";
}

KTDialog* DialogInSlot(DialogSlot slot) {
  const int i = static_cast<int>(slot);
  return i >= 0 && i < kDialogSlotCount ? g_slots[i] : nullptr;
}

void SetDialogInSlot(DialogSlot slot, KTDialog* dialog) {
  const int i = static_cast<int>(slot);
  if (i >= 0 && i < kDialogSlotCount) g_slots[i] = dialog;
}

DialogPointerBase::DialogPointerBase(DialogSlot slot) : cell_(&own_) {
  const int i = static_cast<int>(slot);
  if (i >= 0 && i < kDialogSlotCount) cell_ = &g_slots[i];
}

bool PostScpReply(KTDialog* dialog, unsigned status, uint32_t packedKey) {
  if (!DialogIsOpen(dialog)) return false;
  QCoreApplication::postEvent(dialog, new ScpReplyEvent(status, packedKey));
  return true;
}

int RouteTargets(unsigned status, uint32_t packedKey, DialogSlot* out, int capacity) {
  const unsigned block = PackedKeyBlock(packedKey);
  const unsigned branch = PackedKeyBranch(packedKey);
  int n = 0;
  auto add = [&](DialogSlot s) {
    if (n < capacity) out[n] = s;
    ++n;
  };
  if (status == 0 || status == 4) {
    for (const Cell& cell : kCells) {
      if (static_cast<unsigned>(cell.block) == block && Matches(cell, branch)) add(cell.slot);
    }
  } else if (status == 6 && block == 4) {
    if (branch == 11 || branch == 13) add(S::SerialDeviceConfig);
    if (branch == 12) add(S::NetworkAdapterConfig);
  } else if (status == 6 && block == 9) {
    for (const Cell& cell : kCells) {
      if (cell.block == 9 && Matches(cell, branch)) add(cell.slot);
    }
  }
  return n;
}

int RouteScpReply(unsigned status, uint32_t packedKey) {
  DialogSlot targets[kDialogSlotCount * 2];
  const int n = RouteTargets(status, packedKey, targets, kDialogSlotCount * 2);
  int posted = 0;
  for (int i = 0; i < n && i < kDialogSlotCount * 2; ++i) {
    if (PostScpReply(DialogInSlot(targets[i]), status, packedKey)) ++posted;
  }
  return posted;
}
