// One meter's gauge window: the holder handed to the gauge library with the window, and the
// control that draws the meter's dial in it.
//
// The holder is made for one meter and hands that meter to its control, so every gauge shows
// the meter it was opened for, however many windows open before any of them is painted.
#pragma once

#include <QPointer>
#include <memory>

#include "dialogs/widgets/gauge.h"

class MeterGaugeControl {
 public:
  // meterNumber: meter index + 1.
  explicit MeterGaugeControl(int meterNumber) : meter_number_(meterNumber) {}

  // Draws the meter's dial from its limits: destroys the meter's previous gauge definition,
  // defines a new one with the meter's gauge name and unit, adds the "HIGH" zone at the upper
  // alarm and the "LOW ALARM" zone at the lower one and scales the dial with the tick step of
  // the meter's family. The meter index; for a number outside 1..35 nothing is drawn and the
  // result is number - 1.
  int Draw();

  int MeterNumber() const { return meter_number_; }
  KtGaugeWidget* Handle() const { return handle_; }
  void SetHandle(KtGaugeWidget* handle) { handle_ = handle; }

 private:
  int meter_number_;
  QPointer<KtGaugeWidget> handle_;
};

class MeterGaugeWindow : public KtGaugeWindowHolder {
 public:
  // meterIndex: 0..34.
  explicit MeterGaugeWindow(int meterIndex) : meter_(meterIndex) {}
  // The library's call once the window exists: makes the control and draws the dial.
  void Create(KtGaugeWindowRecord* record) override;

  int Meter() const { return meter_; }
  MeterGaugeControl* Control() const { return control_.get(); }

 private:
  int meter_;
  std::unique_ptr<MeterGaugeControl> control_;
};
