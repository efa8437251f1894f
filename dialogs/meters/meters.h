// CMeters: the modeless "View Meters" dialog. A two-column list of every meter the UPS
// supplies (name, value with its unit) and, for each meter the user opens (double click), a
// dial gauge window owned by the dialog. The dials' scales and alarm zones follow from the
// UPS's ratings; which gauges are open can be saved ("Save View", "cfgmeter.dat") and reopen
// with the next list the dialog builds.
//
// Requests on opening: (4, 2, 0) the configuration's shutdown branch (total battery time),
// (2, 0, 0) the UPS information (model and ratings), (3, 0, 0) the meter block. Replies:
// block 2 picks the range file by model and rebuilds the limits, block 4 rebuilds the limits,
// block 3 refreshes the list and the needles (and the limits, when the ratings in the console's
// image are no longer those they were built from) and asks for the meter block again, so that
// the dialog follows the readings for as long as it is open; a meter request left unanswered
// is asked again after a short wait (KTDialog::FollowData). The dialog is filled once the
// three first requests have had their answers.
//
// The meter tables (limits, gauge slots, configured meters) are shared by the process; one
// meters dialog is open at a time.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dialogs/frame/kt_dialog.h"
#include "dialogs/meters/meter_gauge.h"
#include "dialogs/meters/meter_table.h"

class QTreeWidget;
class QTreeWidgetItem;

class CActiveMeterFlags {
 public:
  CActiveMeterFlags() { flags_.fill(0); }
  uint8_t operator[](int i) const { return flags_[static_cast<size_t>(i)]; }
  void Set(int i, uint8_t v) { flags_[static_cast<size_t>(i)] = v; }
  // Copies the other flags; 1 when any flag changed, else 0.
  int CopyFrom(const CActiveMeterFlags& other);

 private:
  std::array<uint8_t, kMeterCount> flags_;
};

class CMeters : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int IDD_METERS = 3024;
  static constexpr int IDC_ADV_METERS = 1123;  // the meter list
  static constexpr int IDC_SAVE_VIEW = 1981;
  static constexpr int kHelpContext = 32;
  static constexpr int kGaugeSize = 200;

  explicit CMeters(QWidget* parent = nullptr, const QString& hostName = QString());
  CMeters(QWidget* parent, const QString& selectionLabel, const QString& hostName,
          const QStringList& hostNames);
  ~CMeters() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;

  // --- limits ---
  void InitMinMax();
  // Default limits from gScp's UPS information and configuration; 0. Open gauges are redrawn.
  int BuildMinMax();
  // The ratings in gScp that the default limits follow.
  static MeterRatings CurrentRatings();
  // Overlays the limits with the range file named by RangeFileName(); defaults when it cannot
  // be opened (with a message) or is empty.
  void ReadMinMax();
  const QString& RangeFileName() const { return range_file_; }

  // --- list ---
  void BuildMeterArray();
  // 1 when the set of available meters changed since the last call, else 0.
  int ActiveMeterFlagsChanged();
  void UpdateMetersListControl();
  void AddMeterItems();
  void UpdateMeterValues();
  // Highest selected row; 0 when none.
  int GetCurrentLocation() const;
  // The label of a meter now (meters 11..14 by phase B's readings). Reads gScp.
  static QString MeterLabel(int meter);
  // The meter with that label now; -1 when none.
  static int MeterOfLabel(const QString& label);
  QTreeWidget* List() const { return list_; }

  // --- gauges ---
  // Opens the gauge of the meter with that label (raises it when already open).
  void CreatePages(const QString& meterName);
  void OnDblclkAdvMeters(QTreeWidgetItem* item);
  // The window of a meter's open gauge, or null.
  static KtGaugeWindow* GaugeWindowOf(int meter);
  static KtGaugeHandle GaugeHandleOf(int meter) { return meter_handles_[static_cast<size_t>(meter)]; }
  static void SetGaugeHandle(int meter, KtGaugeHandle h) { meter_handles_[static_cast<size_t>(meter)] = h; }
  // The meter whose gauge a slot holds (-1: none).
  static int SlotMeter(int slot);
  // Where a slot's gauge window opens on a screen of that width, relative to the panel's origin.
  static QPoint GaugePlacement(int slot, int screenWidth);
  // The area the open gauges take together when the highest slot in use is `highestSlot`: the
  // columns they fill side by side (one window frame of `cell` apart) and the rows' cascade.
  static QSize GaugePanelSize(int highestSlot, int screenWidth, QSize cell);
  // Where a panel of that size goes on the available area: beside the dialog's frame (right,
  // else left, level with the dialog as far as the area allows), else above it, else below it
  // (centred on the dialog). Where no side has room, the spot at one of the area's edges that
  // leaves the dialog's buttons (`buttons`, on the screen) clear if one does, and of those the
  // one that covers least of the dialog.
  static QPoint GaugePanelOrigin(const QRect& dialogFrame, const QRect& available, QSize panel,
                                 const QRect& buttons = QRect());
  // Where the panel and the dialog's frame go (their top-left corners).
  struct GaugeLayout {
    QPoint panel;
    QPoint dialog;
    bool operator==(const GaugeLayout&) const = default;
  };
  // The panel placed as GaugePanelOrigin places it, with a dialog that may move (one the user
  // has not moved): where no side of the dialog has room, the dialog's frame moves, kept whole
  // on the area, to where the panel hides least of it (its buttons first), and of equals the
  // nearest: the least move that gives a side room, where one does.
  static GaugeLayout GaugePanelLayout(const QRect& dialogFrame, const QRect& buttons, const QRect& available,
                                      QSize panel, bool dialogMayMove);
  // The screen position of a slot's window in the panel at `origin`, its frame (of `cell`)
  // kept inside the available area.
  static QPoint GaugeScreenPosition(const QRect& available, QPoint origin, int slot, int screenWidth,
                                    QSize cell);
  // The screen width that chooses the panel columns (0: that of the dialog's screen).
  static void SetScreenWidthOverride(int width) { screen_width_override_ = width; }

  // --- saved view ---
  void SaveConfiguredMeters();
  void LoadConfiguredMeters() { ReadFileFromDisk(); }
  int WriteFileToDisk();
  // The saved view of "cfgmeter.dat" (current directory) as the configured meters.
  static int ReadFileFromDisk();
  void OnSaveView();
  static QString& ConfiguredMeter(int i) { return configured_[static_cast<size_t>(i)]; }

  static const MeterLimits& Limits(int meter) { return limits_[static_cast<size_t>(meter)]; }

 private:
  struct GaugeSlot {
    std::shared_ptr<KtGaugeWindowRecord> record;
    std::unique_ptr<MeterGaugeWindow> holder;
    // Where the panel last put the window's frame.
    std::optional<QPoint> placed;
    // The window manager has shown the window there; one found elsewhere afterwards was moved
    // by the user.
    bool settled;  // false in the table as it starts (value-initialised) and once cleared
  };

  void Construct();
  void BuildControls();
  void BuildMeterItem(int row, int column, const QString& text);
  void ClearSlot(int slot);
  void RedrawOpenGauges();
  // Lays the panel out again for the gauges now open and the slot `opening` (-1: none), beside
  // the dialog: the windows still where the panel put them follow it. Everything is counted in
  // window frames: those the window manager has drawn, and for a window not shown yet the frame
  // of a shown one (a gauge's, else the dialog's). The position of the opening slot's frame.
  QPoint PlaceGauges(int opening = -1);
  // A gauge window was shown or moved: once the window manager has framed it, a window that
  // is not where the panel put it (its frame not the one counted on) is placed again.
  void ScheduleSettle();
  void SettleGauges();

  CActiveMeterFlags active_;
  MeterRatings ratings_;  // those the limits were built from
  int list_built_ = 0;
  QString range_file_ = QStringLiteral("MMDFAULT.DAT");
  QTreeWidget* list_ = nullptr;
  QSize cell_;  // the frame of one gauge in the last layout
  bool settle_pending_ = false;
  int settle_rounds_ = 0;  // placements again since the last gauge opened
  // Gauges of the saved view still to open with the list now being built: the panel is laid
  // out for all of them from the first, so that neither they nor the dialog move at each one.
  int saved_view_pending_ = 0;
  // Where the dialog's frame has been without the user's doing: where the panel first saw it
  // on the screen and where the panel moved it (the window manager may report a place it was
  // put in after a later one). Found anywhere else, the user has moved it: it stays put.
  std::vector<QPoint> dialog_places_;
  bool dialog_moved_by_user_ = false;
  QObject* frame_watcher_ = nullptr;

  static inline MeterLimits limits_[kMeterCount]{};
  static inline std::array<GaugeSlot, kMeterCount> slots_{};
  static inline std::array<KtGaugeHandle, kMeterCount> meter_handles_{};
  static inline std::array<QString, kMeterCount> configured_{};
  static inline int rebuild_ = 1;
  static inline int screen_width_override_ = 0;
};

extern DialogPointer<CMeters> pMeters;
