#include "dialogs/waveforms/dlg_wave_base.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <ctime>

#include "core/scp/waveform_block.h"
#include "dialogs/frame/trem_globals.h"

namespace {
constexpr int kFontTries = 20;
constexpr int kWaveBlock = WaveformBlock::kBlockId;
constexpr int kFullWaveId = 4;
}  // namespace

QString LongDistortionText(double distortion) {
  return QString::asprintf("Total Harmonic Distortion = %3.1lf %%", distortion);
}

QString ShortDistortionText(double distortion) {
  return QString::asprintf("T.H.D. = %3.1lf %%", distortion);
}

DistortionText FitDistortionText(const QRect& textRect, double distortion,
                                 const std::function<int(const QString&, int)>& measure) {
  DistortionText out;
  out.text = LongDistortionText(distortion);
  int c = std::max(1, textRect.height() / 2);
  for (int attempt = 0; attempt < kFontTries; ++attempt) {
    const int width = measure(out.text, c);
    if (width < textRect.width() * 9 / 10 || c == 1) {
      out.pixelHeight = c;
      out.fitted = true;
      return out;
    }
    out.text = ShortDistortionText(distortion);
    c = std::max(1, c - 1);
  }
  return out;
}

WaveLayout ComputeWaveLayout(const QRect& client, int waveformId) {
  WaveLayout out;
  const int h = client.height();
  if (waveformId == kFullWaveId) {
    out.wave = QRect(QPoint(client.left(), client.top()), QPoint(client.right(), client.top() + h - 1));
    out.full = true;
    return out;
  }
  const int waveBottom = client.top() + h * 9 / 20;
  const int barsBottom = client.top() + h * 18 / 20;
  out.wave = QRect(QPoint(client.left(), client.top()), QPoint(client.right(), waveBottom - 1));
  out.bars = QRect(QPoint(client.left(), waveBottom), QPoint(client.right(), barsBottom - 1));
  out.text = QRect(QPoint(client.left(), barsBottom), QPoint(client.right(), client.bottom()));
  return out;
}

CDlgWaveBase::CDlgWaveBase(QWidget* parent, const QString& hostName, int captionId, int waveformId,
                           int yRange, const QString& xTitle, const QString& yTitle)
    : KTDialog(IDD_WAVEFORM, parent, hostName),
      caption_id_(captionId),
      waveform_id_(waveformId),
      y_range_(yRange),
      x_title_(xTitle),
      y_title_(yTitle) {
  SetWaitCount(1);
  setWindowTitle(QStringLiteral("Waveform"));
  setSizeGripEnabled(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  // 324 x 254 dialog units.
  resize(486, 413);
  setMinimumSize(160, 120);
}

CDlgWaveBase::~CDlgWaveBase() {
  delete wave_plot_;  // owns the wave series
  delete harmonic_chart_;
}

bool CDlgWaveBase::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(caption_id_);
  RequestData(kWaveBlock, static_cast<unsigned>(waveform_id_), 0);

  wave_series_ = new KtGraphData(QString(), kSamples);
  wave_plot_ = new KtGraphPlot(QString(), kXRange, y_range_, x_title_, y_title_, 1);
  wave_plot_->AddSeries(wave_series_);
  wave_plot_->centred = 1;
  wave_plot_->horizontalGrid = 1;
  wave_plot_->verticalGrid = 1;
  wave_plot_->xTicks = 0;
  wave_plot_->yTicks = 0;

  harmonic_series_ = new KtGraphData(QString(), kHarmonicSlots);
  harmonic_chart_ = new KtGraphBar(QString(), kHarmonicBars, y_range_ / 2, QStringLiteral("Harmonic"),
                                   QStringLiteral("Value"));
  harmonic_chart_->AddSeries(harmonic_series_);
  return true;
}

void CDlgWaveBase::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*index*/) {
  if (block == kWaveBlock) OnWaveformBlock();
}

void CDlgWaveBase::OnWaveformBlock() {
  RequestData(kWaveBlock, static_cast<unsigned>(waveform_id_), 0);
}

bool CDlgWaveBase::WaveChanged(const std::vector<int32_t>& values) const {
  if (wave_series_ == nullptr || wave_series_->GetCount() == 0) return true;
  if (wave_series_->GetCount() != static_cast<int>(values.size())) return true;
  // The series holds the newest (last added) point at its head.
  auto it = wave_series_->Points().rbegin();
  for (int32_t v : values) {
    if (it->value != v) return true;
    ++it;
  }
  return false;
}

void CDlgWaveBase::ShowWaveform(int correct, int inputWave, int firstHarmonic) {
  const int t = static_cast<int>(std::time(nullptr));
  bool changed = false;
  std::vector<int32_t> samples;
  std::vector<float> harmonics;
  int haveHarmonics = -1;
  double thd = 0.0;
  bool thdComputed = false;
  {
    auto lock = gScp.Lock();
    KT_Waveform* wave = gScp.waveforms.Wave(waveform_id_);
    if (wave != nullptr) {
      wave->Convert(correct, inputWave);
      if (wave->GetConverted(samples) == 1) {
        if (samples.size() > static_cast<size_t>(kSamples)) samples.resize(kSamples);
        changed = !samples.empty() && WaveChanged(samples);
      }
      haveHarmonics = wave->GetHarmonics(harmonics);
      thdComputed = wave->ComputeThd() == 1;
      thd = wave->GetThd();
    }
  }
  if (changed && wave_series_ != nullptr) {
    wave_series_->RemoveAll();
    for (int32_t v : samples) wave_series_->AddPoint(v, t);
    ++wave_updates_;
  }
  if (changed && haveHarmonics == 1 && harmonic_series_ != nullptr) {
    harmonic_series_->RemoveAll();
    for (int k = firstHarmonic; k < kHarmonicSlots && k < static_cast<int>(harmonics.size()); ++k) {
      double v = harmonics[static_cast<size_t>(k)];
      if (!std::isfinite(v) || v < 0) v = 0;
      harmonic_series_->AddPoint(static_cast<int>(std::min(v, kHarmonicCap)), t);
    }
  }
  // A wave without a spectrum (or without a fundamental) has no distortion to show: the block's
  // "not computed" marker is not a percentage, so the last computed value stays.
  if (changed && thdComputed) distortion_ = thd;
  if (changed) update();
  CDlgWaveBase::OnWaveformBlock();
}

void CDlgWaveBase::resizeEvent(QResizeEvent* event) {
  KTDialog::resizeEvent(event);
  update();
}

void CDlgWaveBase::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect client = rect();
  painter.fillRect(client, palette().window());
  painter.fillRect(client.adjusted(1, 1, -1, -1), Qt::white);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(client.adjusted(0, 0, -1, -1));
  const WaveLayout layout = ComputeWaveLayout(client, waveform_id_);
  if (wave_plot_ != nullptr) wave_plot_->Draw(painter, layout.wave);
  if (layout.full) return;
  if (harmonic_chart_ != nullptr) harmonic_chart_->Draw(painter, layout.bars);
  text_rect_ = layout.text;
  painted_text_ = FitDistortionText(text_rect_, distortion_, [](const QString& text, int height) {
    return QFontMetrics(GraphFont(height)).horizontalAdvance(text);
  });
  painter.setFont(painted_text_.fitted ? GraphFont(painted_text_.pixelHeight) : font());
  painter.setPen(Qt::black);
  painter.drawText(text_rect_, Qt::AlignHCenter | Qt::AlignTop, painted_text_.text);
}
