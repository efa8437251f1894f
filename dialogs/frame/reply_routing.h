// How replies reach the dialogs.
//
// The console's communication side applies each reply to gScp and then, on the user-interface
// thread, hands the result to every open dialog that shows the block concerned: a posted
// ScpReplyEvent (type QEvent::User + 1) carrying the SCP status and the packed key. KTDialog
// turns it into OnNewData.
//
// Packed key (32 bits, first byte lowest): key length, block, branch, item.
//
// Dialog pointers. Each dialog class has one exported pointer, p<ClassName without C>, that is
// set while the dialog is open. Pointers of dialogs that receive replies live in a slot table
// (DialogSlot) so that RouteScpReply reaches them without knowing their classes; the others
// keep their own cell. A dialog's source unit defines its pointer:
//
//   DialogPointer<CMeters> pMeters{DialogSlot::Meters};          // routed
//   DialogPointer<CManageDiagTest> pManageDiagTest;               // not routed
//
// and its constructor binds it (KTDialog::BindDialogPointer), which sets it to the new dialog;
// the pointer is cleared when the dialog's window is destroyed and again by the destructor.
// Everything here runs on the user-interface thread.
#pragma once

#include <QEvent>
#include <cstdint>

class KTDialog;

// The private reply message.
inline constexpr QEvent::Type kScpReplyEventType = static_cast<QEvent::Type>(QEvent::User + 1);

class ScpReplyEvent : public QEvent {
 public:
  ScpReplyEvent(unsigned status, uint32_t packedKey)
      : QEvent(kScpReplyEventType), status_(status), packed_key_(packedKey) {}
  unsigned status() const { return status_; }
  uint32_t packedKey() const { return packed_key_; }

 private:
  unsigned status_;
  uint32_t packed_key_;
};

constexpr uint32_t PackScpKey(unsigned keyLength, unsigned block, unsigned branch, unsigned item) {
  return (keyLength & 0xFFu) | ((block & 0xFFu) << 8) | ((branch & 0xFFu) << 16) | ((item & 0xFFu) << 24);
}
constexpr unsigned PackedKeyLength(uint32_t k) {
  return k & 0xFFu;
}
constexpr unsigned PackedKeyBlock(uint32_t k) {
  return (k >> 8) & 0xFFu;
}
constexpr unsigned PackedKeyBranch(uint32_t k) {
  return (k >> 16) & 0xFFu;
}
constexpr unsigned PackedKeyItem(uint32_t k) {
  return (k >> 24) & 0xFFu;
}

// Every dialog that receives replies, in the order of the routing table's first mention.
enum class DialogSlot : int {
  Mimic,
  SerialDeviceConfig,
  UpsInfoDlg,
  UpsConfiguration,
  BugDlg,
  Meters,
  EMailConfig,
  NetworkAdapterConfig,
  NetworkConfiguration,
  PassWordDlg,
  Reboot,
  TerminateDaemon,
  ShutdownDlg,
  SchedShutdownDlg,
  EventLogConfig,
  BatteryTest,
  PagerConfig,
  BatteryTestResults,
  EventNotification,
  UserWarn,
  NetworkManager,
  ExecuteCommand,
  LogEvent,
  EventLogDisplay,
  AlarmHistory,
  DlgVoltageInput,
  DlgVoltageOutput,
  DlgCurrentOutput,
  BatteryInfo,
  TestPager,
  ReceptacleControl,
  NetworkMessage,
  OscDialog,
  Count
};
inline constexpr int kDialogSlotCount = static_cast<int>(DialogSlot::Count);

// The pointer name of a slot ("pMimic", ...).
const char* DialogSlotName(DialogSlot slot);
// The dialog in a slot (null when none is open).
KTDialog* DialogInSlot(DialogSlot slot);
// Puts a dialog into a slot (what a routed DialogPointer's assignment does).
void SetDialogInSlot(DialogSlot slot, KTDialog* dialog);

class DialogPointerBase {
 public:
  DialogPointerBase(const DialogPointerBase&) = delete;
  DialogPointerBase& operator=(const DialogPointerBase&) = delete;

  KTDialog* dialog() const { return *cell_; }
  explicit operator bool() const { return *cell_ != nullptr; }
  // Clears the pointer when it still points to `d` (a newer dialog stays).
  void ClearIf(const KTDialog* d) {
    if (*cell_ == d) *cell_ = nullptr;
  }

 protected:
  friend class KTDialog;
  explicit DialogPointerBase(DialogSlot slot);
  DialogPointerBase() : cell_(&own_) {}
  void Assign(KTDialog* d) { *cell_ = d; }

 private:
  KTDialog* own_ = nullptr;
  KTDialog** cell_;
};

template <class T>
class DialogPointer : public DialogPointerBase {
 public:
  DialogPointer() = default;
  explicit DialogPointer(DialogSlot slot) : DialogPointerBase(slot) {}

  T* get() const { return static_cast<T*>(dialog()); }
  operator T*() const { return get(); }
  T* operator->() const { return get(); }
  DialogPointer& operator=(T* d) {
    Assign(d);
    return *this;
  }
  DialogPointer& operator=(std::nullptr_t) {
    Assign(nullptr);
    return *this;
  }
};

// Posts the reply event to the dialog; false when the dialog is null or its window is gone.
bool PostScpReply(KTDialog* dialog, unsigned status, uint32_t packedKey);

// Hands a reply to the dialogs that show its block:
//   status 0 (Set OK) and 4 (Get OK): every dialog of the block's row whose branch list holds
//     the reply's branch ("any" holds every branch; a listed branch also matches branch 0, the
//     whole block), in the order of the table;
//   status 6 (Not Available): (4, 11) and (4, 13) to pSerialDeviceConfig, (4, 12) to
//     pNetworkAdapterConfig; block 9 to the waveform windows and the launcher as for 0 and 4,
//     which then say that the UPS has no waves;
//   anything else: nobody.
// Posts only to dialogs whose pointer is set and whose window exists. Returns how many.
int RouteScpReply(unsigned status, uint32_t packedKey);

// The slots a reply would reach, open or not, in order (the table itself, for tests).
int RouteTargets(unsigned status, uint32_t packedKey, DialogSlot* out, int capacity);
