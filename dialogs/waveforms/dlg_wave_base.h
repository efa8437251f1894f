// CDlgWaveBase: the base of the waveform windows. A resizable window without controls showing
// one waveform of the UPS (block 9, branch = waveform id) as a centred line graph of 64 samples
// and, below it, the harmonic amplitudes as red bars and the total harmonic distortion as a
// line of text. Each waveform reply shows the data and asks for the next one, so the picture
// keeps refreshing while the window is open.
//
// The samples are volts or milliamperes; both graphs scale to hold what they show, so the
// wave, the bars (harmonic amplitudes in the wave's unit) and the distortion read true. When
// the agent answers "Not Available" the window says so and draws no graph.
//
// Members override OnWaveformBlock to take the data from gScp's waveform block and end by
// calling the base's, which sends the next request.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "dialogs/frame/kt_dialog.h"
#include "dialogs/widgets/graph_bar.h"
#include "dialogs/widgets/graph_plot.h"

inline constexpr int IDD_WAVEFORM = 201;

// The distortion line's text and font after the fitting rule: starting at half the text
// rectangle's height, up to 20 font heights are tried; a font fits when the text is narrower
// than nine tenths of the rectangle or the height is 1. After the first miss the text becomes
// the short "T.H.D. = ..." form and the height goes down by 1 (never below 1). When no font
// fitted, `fitted` is false and the short text is drawn in the window's own font.
struct DistortionText {
  QString text;
  int pixelHeight = 0;
  bool fitted = false;
};
// `measure` gives the width of a text in "Arial" of a pixel height.
DistortionText FitDistortionText(const QRect& textRect, double distortion,
                                 const std::function<int(const QString&, int)>& measure);
QString LongDistortionText(double distortion);
QString ShortDistortionText(double distortion);

// Where the parts go in a client area of height H: the wave plot over the upper 9/20 (over
// everything for waveform id 4), the bars down to 18/20, the text below.
struct WaveLayout {
  QRect wave;
  QRect bars;
  QRect text;
  bool full = false;
};
WaveLayout ComputeWaveLayout(const QRect& client, int waveformId);

// The smallest of 1, 2, 4, 5, 6, 8 times a power of ten that is at least `needed` (1 for
// anything up to 1).
int NiceFullScale(double needed);
// The wave plot's full scale for converted samples: `minimum` (the window's own), or more so
// that the largest sample and a twentieth above it stay inside the centred plot.
int WaveFullScale(int minimum, const std::vector<int32_t>& samples);
// The harmonic chart's full scale: room for the tallest bar and a twentieth above it, at
// least an 80th of the wave's full scale (and 10), so that noise is not blown up.
int HarmonicFullScale(int waveFullScale, const std::vector<int>& bars);

class CDlgWaveBase : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kXRange = 63;
  static constexpr int kSamples = 64;
  static constexpr int kHarmonicSlots = 32;
  static constexpr int kHarmonicBars = 31;
  static constexpr double kHarmonicCap = 32000.0;

  CDlgWaveBase(QWidget* parent, const QString& hostName, int captionId, int waveformId, int yRange,
               const QString& xTitle, const QString& yTitle);
  ~CDlgWaveBase() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned index) override;
  // Asks for the next waveform: (9, waveform id, 0).
  virtual void OnWaveformBlock();

  int WaveformId() const { return waveform_id_; }
  double Distortion() const { return distortion_; }
  // False while the wave shown has no distortion to show (none computed yet, or a wave
  // without a spectrum): the distortion line is left empty.
  bool HasDistortion() const { return has_distortion_; }
  // True once the agent answered that it has no such wave.
  bool NotAvailable() const { return not_available_; }
  KtGraphPlot* WavePlot() const { return wave_plot_; }
  KtGraphData* WaveSeries() const { return wave_series_; }
  KtGraphBar* HarmonicChart() const { return harmonic_chart_; }
  KtGraphData* HarmonicSeries() const { return harmonic_series_; }
  // The distortion line as last painted.
  const DistortionText& PaintedText() const { return painted_text_; }
  // Times the wave, the bars and the distortion were taken from a reply.
  int WaveUpdates() const { return wave_updates_; }

 protected:
  // The waveform of gScp's block for this window: converted with (correct, inputWave), its
  // harmonics `firstHarmonic`..31 as bars, then the next request.
  void ShowWaveform(int correct, int inputWave, int firstHarmonic);
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // True when the values differ from the series' points (oldest first), or the series is empty.
  bool WaveChanged(const std::vector<int32_t>& values) const;

  KtGraphPlot* wave_plot_ = nullptr;
  KtGraphData* wave_series_ = nullptr;  // owned by the plot once added
  KtGraphBar* harmonic_chart_ = nullptr;
  KtGraphData* harmonic_series_ = nullptr;
  int caption_id_;
  int waveform_id_;
  int y_range_;
  QString x_title_;
  QString y_title_;
  double distortion_ = 0.0;
  bool has_distortion_ = false;
  bool not_available_ = false;
  QRect text_rect_;
  DistortionText painted_text_;
  int wave_updates_ = 0;
};
