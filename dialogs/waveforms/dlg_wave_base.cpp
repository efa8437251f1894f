#include "dialogs/waveforms/dlg_wave_base.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <ctime>

#include "core/scp/scp_base.h"
#include "core/scp/scp_message.h"
#include "core/scp/waveform_block.h"
#include "dialogs/frame/trem_globals.h"

namespace {
constexpr int kFontTries = 20;
// Room above a wave's peak and a tallest bar before the scale grows.
constexpr double kScaleHeadroom = 0.05;
// The smallest full scale of the harmonic chart.
constexpr int kMinBarScale = 10;
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

int NiceFullScale(double needed) {
  if (!(needed > 1.0)) return 1;
  if (needed >= 1.0e9) return 1000000000;
  // 1, 2, 4, 5, 6 and 8 times a power of ten: a tenth of each is a whole grid step.
  static constexpr int kSteps[] = {1, 2, 4, 5, 6, 8};
  for (int64_t decade = 1;; decade *= 10) {
    for (int m : kSteps) {
      if (static_cast<double>(m * decade) >= needed) return static_cast<int>(m * decade);
    }
  }
}

int WaveFullScale(int minimum, const std::vector<int32_t>& samples) {
  int64_t peak = 0;
  for (int32_t v : samples) peak = std::max<int64_t>(peak, v < 0 ? -static_cast<int64_t>(v) : v);
  if (2 * peak * (1.0 + kScaleHeadroom) <= minimum) return minimum;
  return std::max(minimum, NiceFullScale(2.0 * static_cast<double>(peak) * (1.0 + kScaleHeadroom)));
}

int HarmonicFullScale(int waveFullScale, const std::vector<int>& bars) {
  int tallest = 0;
  for (int v : bars) tallest = std::max(tallest, v);
  const int floor = std::max(kMinBarScale, NiceFullScale(waveFullScale / 80.0));
  return std::max(floor, NiceFullScale(tallest * (1.0 + kScaleHeadroom)));
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
  FollowData(kWaveBlock, static_cast<unsigned>(waveform_id_), 0);

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

void CDlgWaveBase::OnNewData(unsigned status, unsigned block, unsigned /*branch*/, unsigned /*index*/) {
  if (block != kWaveBlock) return;
  if (status == SCP_NOT_AVAILABLE) {
    // The agent's UPS gives no such wave: said at once, nothing drawn, nothing asked again.
    not_available_ = true;
    has_distortion_ = false;
    if (wave_series_ != nullptr) wave_series_->RemoveAll();
    if (harmonic_series_ != nullptr) harmonic_series_->RemoveAll();
    update();
    return;
  }
  OnWaveformBlock();
}

void CDlgWaveBase::OnWaveformBlock() {
  // The next wave; one that gets no answer is asked again after a short wait.
  FollowData(kWaveBlock, static_cast<unsigned>(waveform_id_), 0);
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
    // The scale grows to hold the whole wave (a 230 V wave peaks near 325 V, a load current
    // in milliamperes in the thousands); it never goes below the window's own.
    wave_plot_->SetYRange(WaveFullScale(y_range_, samples));
    ++wave_updates_;
  }
  if (changed && harmonic_series_ != nullptr) {
    harmonic_series_->RemoveAll();
    std::vector<int> bars;
    // A bar is the harmonic's amplitude in the wave's own unit (the spectrum's magnitude is
    // n / 2 times it), so that the bars read against the wave and the distortion.
    const double toAmplitude = samples.empty() ? 0.0 : 2.0 / static_cast<double>(samples.size());
    if (haveHarmonics == 1) {
      // Harmonics below the first shown keep their places empty, so that the bar of harmonic
      // k stands at k on the axis in every window.
      for (int k = 1; k < firstHarmonic; ++k) bars.push_back(0);
      for (int k = firstHarmonic; k < kHarmonicSlots && k < static_cast<int>(harmonics.size()); ++k) {
        double v = harmonics[static_cast<size_t>(k)] * toAmplitude;
        if (!std::isfinite(v) || v < 0) v = 0;
        bars.push_back(static_cast<int>(std::lround(std::min(v, kHarmonicCap))));
      }
    }
    for (int v : bars) harmonic_series_->AddPoint(v, t);
    harmonic_chart_->SetYRange(HarmonicFullScale(wave_plot_->YRange(), bars));
  }
  // A wave without a spectrum (or without a fundamental) has no distortion: no figure is
  // shown for it rather than the block's "not computed" marker or an older wave's.
  if (changed) {
    has_distortion_ = thdComputed;
    if (thdComputed) distortion_ = thd;
  }
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
  const auto measure = [](const QString& text, int height) {
    return QFontMetrics(GraphFont(height)).horizontalAdvance(text);
  };
  if (not_available_) {
    // The whole window says it, in the distortion line's font.
    const QString text = QString::fromStdString(ScpReplyCodeText(SCP_NOT_AVAILABLE));
    const QRect area = client.adjusted(1, 1, -1, -1);
    int height = std::max(1, ComputeWaveLayout(client, waveform_id_).text.height() / 2);
    while (height > 1 && measure(text, height) >= area.width() * 9 / 10) --height;
    painter.setFont(GraphFont(height));
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter, text);
    painted_text_ = DistortionText{text, height, true};
    return;
  }
  const WaveLayout layout = ComputeWaveLayout(client, waveform_id_);
  if (wave_plot_ != nullptr) wave_plot_->Draw(painter, layout.wave);
  if (layout.full) return;
  if (harmonic_chart_ != nullptr) harmonic_chart_->Draw(painter, layout.bars);
  text_rect_ = layout.text;
  if (!has_distortion_) {
    painted_text_ = DistortionText{};
    return;
  }
  painted_text_ = FitDistortionText(text_rect_, distortion_, measure);
  painter.setFont(painted_text_.fitted ? GraphFont(painted_text_.pixelHeight) : font());
  painter.setPen(Qt::black);
  painter.drawText(text_rect_, Qt::AlignHCenter | Qt::AlignTop, painted_text_.text);
}
