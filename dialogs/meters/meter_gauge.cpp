#include "dialogs/meters/meter_gauge.h"

#include "dialogs/meters/meters.h"

int MeterGaugeControl::Draw() {
  const int meter = meter_number_ - 1;
  if (meter < 0 || meter >= kMeterCount) return meter;
  const MeterInfo& info = kMeterTable[meter];
  KtGaugeDestroy(CMeters::GaugeHandleOf(meter));
  CMeters::SetGaugeHandle(meter, 0);
  const MeterLimits& l = CMeters::Limits(meter);
  const double span = static_cast<double>(l.scaleMax) - static_cast<double>(l.scaleMin);
  const double step = TickStep(info.tick, span);
  const KtGaugeHandle handle =
      KtGaugeDefine(QString::fromLatin1(info.gaugeName), QString::fromLatin1(info.gaugeUnit));
  CMeters::SetGaugeHandle(meter, handle);
  KtGaugeAddZone(handle, kGaugeZoneHigh, l.upperAlarm, QStringLiteral("HIGH"));
  KtGaugeAddZone(handle, kGaugeZoneLow, l.lowerAlarm, QStringLiteral("LOW ALARM"));
  if (handle_) KtGaugeDrawDial(handle_, handle, l.scaleMin, l.scaleMax, step, info.numberStyle);
  return meter;
}

void MeterGaugeWindow::Create(KtGaugeWindowRecord* record) {
  control_ = std::make_unique<MeterGaugeControl>(meter_ + 1);
  control_->SetHandle(KtCreateGaugeControl(record));
  control_->Draw();
}
