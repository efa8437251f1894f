// The library's dial gauges: round meters drawn with QPainter.
//
// Three kinds of object, used in this order for one dial:
//   - a gauge window (KtGaugeWindow): a small window owned by a dialog, created through
//     KtCreateGaugeWindow with a holder object; the window record it returns carries the
//     window's number (the lowest number no other open gauge window has, from 1), which
//     becomes 0 when the window is closed;
//   - a gauge control (KtGaugeWidget) inside that window (KtCreateGaugeControl), the widget
//     that paints the dial;
//   - a gauge definition (KtGaugeDefine, a handle > 0): name, unit label, alarm zones, the
//     scale drawn by KtGaugeDrawDial, and the needle's value (KtGaugeSetValue).
//
// The dial: a 270 degree arc from the scale minimum (lower left) to the maximum (lower right),
// green between the alarm zones, amber below the lower alarm (zone 2) and red above the upper
// one (zone 1), numbered major ticks at the tick step with minor ticks between, the unit
// under the hub, the needle, and the value as a readout. A span of 0, or one that is not
// finite, draws an empty dial.
// Everything runs on the user-interface thread.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

using KtGaugeHandle = int;  // 0: none

// Zone numbers of KtGaugeAddZone.
inline constexpr int kGaugeZoneHigh = 1;  // from the threshold up to the scale maximum
inline constexpr int kGaugeZoneLow = 2;   // from the scale minimum up to the threshold

// Number styles of the scale's labels.
inline constexpr int kGaugeNumbersPlain = 2;    // whole numbers
inline constexpr int kGaugeNumbersLarge = 3;    // whole numbers, thousands as "k" when round
inline constexpr int kGaugeNumbersDecimal = 4;  // up to one decimal place
inline constexpr int kGaugeNumbersDegrees = 9;  // whole numbers with a degree sign

struct KtGaugeZone {
  int zone = 0;
  double threshold = 0;
  QString label;
};

class KtGaugeWidget;

struct KtGaugeDefinition {
  QString name;
  QString unit;
  std::vector<KtGaugeZone> zones;
  bool scaled = false;  // KtGaugeDrawDial ran
  double min = 0;
  double max = 0;
  double step = 0;
  int numberStyle = kGaugeNumbersPlain;
  bool hasValue = false;
  double value = 0;    // where the needle points
  double reading = 0;  // what the readout says: the value, or the reading beyond the scale
  QPointer<KtGaugeWidget> control;
};

// Defines a gauge; its handle (> 0).
KtGaugeHandle KtGaugeDefine(const QString& name, const QString& unit);
// Adds an alarm zone (kGaugeZoneHigh or kGaugeZoneLow; a second zone of a number replaces
// the first). 1, or -1 for an unknown handle or zone.
int KtGaugeAddZone(KtGaugeHandle handle, int zone, double threshold, const QString& label);
// Binds the definition to the control and sets its scale: min .. max with major ticks every
// `step` (a step that would draw more than 60 ticks is widened), labels in `numberStyle`.
// 1, or -1 for an unknown handle or a null control.
int KtGaugeDrawDial(KtGaugeWidget* control, KtGaugeHandle handle, double min, double max, double step,
                    int numberStyle);
// Moves the needle to `value`; the readout says `reading` where one is given (a reading the
// needle stops short of at the scale's end), else the value. A value that is not finite takes
// the needle away ("--"). 1, or -1 for an unknown handle.
int KtGaugeSetValue(KtGaugeHandle handle, double value, std::optional<double> reading = std::nullopt);
// Destroys a definition (its control shows an empty dial). 1, or 0 for an unknown handle.
int KtGaugeDestroy(KtGaugeHandle handle);
// The definition of a handle, or null.
const KtGaugeDefinition* KtGaugeFind(KtGaugeHandle handle);
// Number of live definitions.
int KtGaugeCount();

// The dial control.
class KtGaugeWidget : public QWidget {
  Q_OBJECT

 public:
  explicit KtGaugeWidget(QWidget* parent = nullptr);
  ~KtGaugeWidget() override;

  // The definition shown (0: none, an empty dial).
  KtGaugeHandle Handle() const { return handle_; }
  void SetHandle(KtGaugeHandle handle);
  // The meter's name, as the dial's accessible name and tool tip.
  void SetTitle(const QString& title);

  QSize sizeHint() const override { return {200, 200}; }
  QSize minimumSizeHint() const override { return {160, 160}; }

  // What a dial without a scale says in place of one ("No scale range" for a scale whose ends
  // are equal); empty for a dial with a scale or with no definition yet.
  QString Notice() const;

  // The label of a scale value in a number style ("1.5k", "50.5", "40°", ...).
  static QString FormatNumber(double value, int numberStyle);
  // The readout of the needle's value: whole numbers without decimals, else one decimal.
  static QString FormatValue(double value);
  // The angle of a value on the dial, in degrees counter-clockwise from 3 o'clock: 225 at the
  // minimum, -45 at the maximum; values outside the scale stop at its ends.
  static double AngleOf(double value, double min, double max);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  KtGaugeHandle handle_ = 0;
};

// A window's holder: the library calls Create once the window exists.
struct KtGaugeWindowRecord;
class KtGaugeWindowHolder {
 public:
  virtual ~KtGaugeWindowHolder() = default;
  virtual void Create(KtGaugeWindowRecord* record) = 0;
};

class KtGaugeWindow;
struct KtGaugeWindowRecord {
  uint16_t number = 0;  // 0 once the window is closed
  QPointer<KtGaugeWindow> window;
  QString name;
};

// A gauge window: a small window of its owner with the dial filling it. Opening it leaves the
// keyboard focus with the owner.
class KtGaugeWindow : public QWidget {
  Q_OBJECT

 public:
  KtGaugeWindow(QWidget* owner, const QString& name, const QString& title,
                std::shared_ptr<KtGaugeWindowRecord> record);
  ~KtGaugeWindow() override;
  const std::shared_ptr<KtGaugeWindowRecord>& Record() const { return record_; }
  KtGaugeWidget* Control() const { return control_; }
  void SetControl(KtGaugeWidget* control);

 protected:
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;

 private:
  // How long after it is shown an activation counts as the showing's, not the user's.
  static constexpr int kOpeningMs = 500;
  std::shared_ptr<KtGaugeWindowRecord> record_;
  KtGaugeWidget* control_ = nullptr;
  bool opening_ = false;
};

// Opens a gauge window named `name`, titled `title`, owned by `parent` (closed with it), at
// (x, y) of the screen with a client area of width x height; calls holder->Create(record)
// and shows it. The record, or null when it cannot be made (no parent).
std::shared_ptr<KtGaugeWindowRecord> KtCreateGaugeWindow(const QString& name, QWidget* parent,
                                                         const QString& title, int x, int y, int width,
                                                         int height, KtGaugeWindowHolder* holder);
// The dial control of a gauge window, filling it; null when the window is gone.
KtGaugeWidget* KtCreateGaugeControl(KtGaugeWindowRecord* record);
// Number of open gauge windows.
int KtGaugeWindowCount();
