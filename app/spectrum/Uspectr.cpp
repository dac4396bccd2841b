// Spectrum processing (ring, decimation, transform, averaging) and drawing.
#include "app/spectrum/Uspectr.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QString>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr int kCentreBin = kSpectrumBins / 2;
constexpr int kBottomRow = kSpectrumHeight - 1;

// Clamping of the logarithmic view: 120 dB from 0.001 to 10000.
constexpr double kMinLogMagnitude = 0.001;
constexpr double kMaxLogMagnitude = 10000.0;
constexpr int kTopLevelDb = kLevelTopDb;
constexpr int kLinearLevelDb = 97 - 9;
constexpr double kLinearFloor = 5.0;  // the linear scale never zooms in further than this

// Reported-gain and preamplifier contributions to the level offset.
constexpr int kAgcGainOffsetDb = 36;
constexpr int kPreampGainDb = 15;

// Vertical grid and frequency ticks share these pixels; the labels are offset by the
// 25 pixels that FScale starts left of Spectr.
constexpr const int (&kTickX)[5] = kFrequencyTickX;
constexpr const int (&kTickOffsetHz)[5] = kFrequencyTickOffsetHz;

// Linear view: rows where a bin lies the given dB below the strongest one, and the label
// of each on the level scales.
struct LinearLine { int y; int labelX; int labelY; const char* label; };
constexpr LinearLine kLinearLines[] = {
    {10, 7, 3, "0"},      {77, 6, 70, "-3"},    {125, 6, 118, "-6"}, {167, 5, 160, "-10"},
    {199, 5, 192, "-15"}, {217, 5, 210, "-20"}, {233, 5, 226, "-30"},
};

constexpr QRgb kGray = 0x808080, kYellow = 0xFFFF00, kLime = 0x00FF00, kRed = 0xFF0000,
               kWhite = 0xFFFFFF, kAqua = 0x00FFFF;

constexpr const char* kUsbOffNotice = "USB ОТКЛЮЧЕН";
constexpr QPoint kUsbOffNoticeAt{95, 100};
// "Arial" size 30 in the Windows sense: 30 points at 96 dpi, a 40-pixel em.
constexpr int kUsbOffNoticePixels = 40;
constexpr int kPictureFontPixels = 11;

// Any averaging count other than these would index past the history; the drop-down only
// offers these, so anything else falls back to its default.
int AveragingCount(int n) {
  return (n == 2 || n == 4 || n == 8 || n == 16) ? n : kHistorySlots;
}

// Converts a level that a faulty library could make non-finite without undefined behaviour.
int32_t TruncToInt(double v) {
  if (std::isnan(v)) return 0;
  constexpr double lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

// Logarithmic view: clamp each magnitude (written back), 2 pixels per dB, the peak is the
// highest bin on the smallest row.
void LayoutLogarithmic(SpectrumState& s, int gain, int32_t fc, int d, SpectrumFrame& f) {
  const int top = kTopLevelDb - gain;
  f.gridRowCount = 0;
  for (int v = top % 10; v < 120; v += 10) {
    f.gridRowY[f.gridRowCount] = 2 * v;
    std::snprintf(f.gridLabel[f.gridRowCount], sizeof f.gridLabel[0], "%d", kTopLevelDb - v - gain);
    ++f.gridRowCount;
  }

  int minY = kBottomRow, peakBin = 0;
  for (int k = 0; k < kSpectrumBins; ++k) {
    double m = s.Magnitude[k];
    if (!(m >= kMinLogMagnitude)) m = kMinLogMagnitude;  // also catches NaN
    if (m > kMaxLogMagnitude) m = kMaxLogMagnitude;
    s.Magnitude[k] = m;
    int y = static_cast<int>(kBottomRow - 2 * (20 * std::log10(m) + 40));
    y = y < 0 ? 0 : (y > kBottomRow ? kBottomRow : y);
    f.trace[k] = QPoint(k, y);
    if (y <= minY) {
      minY = y;
      peakBin = k;
    }
  }
  s.PeakLevel = top - minY / 2;
  s.PeakFrequency = BinFrequency(fc, peakBin, d);
}

// Linear view: scaled to the strongest bin, which is drawn at row 10.
void LayoutLinear(SpectrumState& s, int gain, int32_t fc, int d, SpectrumFrame& f) {
  f.gridRowCount = 0;
  float peak = static_cast<float>(s.Magnitude[0]);
  int peakBin = 0;
  for (int k = 1; k < kSpectrumBins; ++k) {
    if (s.Magnitude[k] >= peak) {
      peak = static_cast<float>(s.Magnitude[k]);
      peakBin = k;
    }
  }
  // An all-zero spectrum reads 0.001, i.e. exactly -60 dB.
  const double levelOf = peak == 0 ? kMinLogMagnitude : static_cast<double>(peak);
  s.PeakLevel = TruncToInt(20 * std::log10(levelOf) + kLinearLevelDb - gain);
  s.PeakFrequency = BinFrequency(fc, peakBin, d);

  const double scale = peak < kLinearFloor ? kLinearFloor : static_cast<double>(peak);
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double y = kSpectrumHeight - s.Magnitude[k] * 230 / scale;
    // NaN or a negative magnitude from a faulty library still lands inside the picture.
    int row = !(y < kBottomRow) ? kBottomRow : (y < 0 ? 0 : static_cast<int>(y));
    f.trace[k] = QPoint(k, row);
  }
}

void ClearImage(QPainter& p, const QImage& image) { p.fillRect(image.rect(), Qt::black); }

}  // namespace

void FormatKilohertz(char* out, std::size_t size, const char* prefix, int32_t hz, const char* suffix) {
  std::snprintf(out, size, "%s%5d.%03d%s", prefix, hz / 1000, hz % 1000, suffix);
}

int DecimationFactor(const SpectrumControls& c) {
  if (c.scalingIndex == 0) return 1;
  static constexpr int kByBandwidth[6] = {1, 1, 2, 4, 8, 16};
  return (c.bandwidthDown >= 0 && c.bandwidthDown < 6) ? kByBandwidth[c.bandwidthDown] : 1;
}

int GainOffset(const SpectrumControls& c, int32_t reportedGain) {
  int g = c.aruDown ? reportedGain + kAgcGainOffsetDb : c.rruPosition;
  if (c.uvcDown) g += kPreampGainDb;
  return g - c.attVch;
}

int32_t BinFrequency(int32_t fc, int x, int d) {
  return fc + ((x - kCentreBin) * kSpectrumSpanHz / kSpectrumBins) / d;
}

int32_t MarkerFrequency(int32_t fc, int x, int d) {
  return fc - (kSpectrumSpanHz / 2) / d + (x * kSpectrumSpanHz / kSpectrumBins) / d;
}

void ProcessSampleBlock(SpectrumState& s, const int16_t* block, const SpectrumControls& c) {
  std::memcpy(&s.SampleRing[s.RingPosition], block, sizeof(int16_t) * kSampleBlockSamples);
  s.RingPosition = (s.RingPosition + kSampleBlockSamples) & (kSampleRingSamples - 1);

  // Entry 511 is the newest pair, entry 0 the pair 511 * D pairs older; no filtering.
  const int d = DecimationFactor(c);
  float i[kSpectrumBins], q[kSpectrumBins];
  for (int p = 0; p < kSpectrumBins; ++p) {
    i[kSpectrumBins - 1 - p] = s.SampleRing[(s.RingPosition - 2 - 2 * p * d) & (kSampleRingSamples - 1)];
    q[kSpectrumBins - 1 - p] = s.SampleRing[(s.RingPosition - 1 - 2 * p * d) & (kSampleRingSamples - 1)];
  }

  // Without the library the outputs stay zero, so the display shows its bottom line.
  float out1[kSpectrumBins] = {}, out2[kSpectrumBins] = {};
  if (s.FftEntry) s.FftEntry(q, i, kSpectrumBins, out1, out2);
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double re = out1[k], im = out2[k];
    s.Magnitude[k] = std::sqrt(re * re + im * im);
  }
  if (c.rowSink) c.rowSink->AddSpectrumRow(s.Magnitude, c, s.ReportedGain.load(std::memory_order_acquire));

  if (!c.avrDown) return;
  // The history is never cleared: slots not yet written, or written under a larger count,
  // take part until they are overwritten.
  std::memcpy(s.History[s.HistoryIndex], s.Magnitude, sizeof s.Magnitude);
  const int n = AveragingCount(c.avrCount);
  s.HistoryIndex = (s.HistoryIndex + 1) & (n - 1);
  std::memcpy(s.Magnitude, s.History[0], sizeof s.Magnitude);
  for (int slot = 1; slot < n; ++slot)
    for (int k = 0; k < kSpectrumBins; ++k) s.Magnitude[k] += s.History[slot][k];
  for (int k = 0; k < kSpectrumBins; ++k) s.Magnitude[k] /= n;
}

void LayoutSpectrum(SpectrumState& s, const SpectrumControls& c, SpectrumFrame& f) {
  const int d = DecimationFactor(c);
  const int gain = GainOffset(c, s.ReportedGain.load(std::memory_order_acquire));
  const int32_t fc = c.fc;
  f.logarithmic = c.mashtabIndex == 0;
  f.usbOff = c.linkKind != 2;
  f.levelTop = kTopLevelDb - gain;
  f.fc = fc;
  f.decimation = d;

  for (int t = 0; t < 5; ++t) {
    FormatKilohertz(f.frequencyLabel[t], sizeof f.frequencyLabel[t], "", fc + kTickOffsetHz[t] / d, "");
    f.frequencyLabelX[t] = kTickX[t] - static_cast<int>(std::strlen(f.frequencyLabel[t])) / 2;
  }

  if (f.logarithmic)
    LayoutLogarithmic(s, gain, fc, d, f);
  else
    LayoutLinear(s, gain, fc, d, f);

  f.markerX[0] = s.Marker1X;
  f.markerX[1] = s.Marker2X;
  s.Marker1Frequency = MarkerFrequency(fc, s.Marker1X, d);
  s.Marker2Frequency = MarkerFrequency(fc, s.Marker2X, d);
  FormatKilohertz(f.markerReadout[0], sizeof f.markerReadout[0], "F1 = ", s.Marker1Frequency, " Гц");
  FormatKilohertz(f.markerReadout[1], sizeof f.markerReadout[1], "F2 = ", s.Marker2Frequency, " Гц");
  std::snprintf(f.markerReadout[2], sizeof f.markerReadout[2], "dF = %6d Гц",
                (s.Marker2Frequency - s.Marker1Frequency) % 1000000);
  std::snprintf(f.peakReadout[0], sizeof f.peakReadout[0], "Ls = %3d дБ", s.PeakLevel);
  FormatKilohertz(f.peakReadout[1], sizeof f.peakReadout[1], "Fs = ", s.PeakFrequency, " Гц");
}

const QFont& PictureFont() {
  static const QFont font = [] {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(kPictureFontPixels);
    // Plain pixels in the text colour on whole-pixel positions, as on a bitmap canvas.
    f.setStyleStrategy(QFont::NoAntialias);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
  }();
  return font;
}

void DrawTextAt(QPainter& p, int x, int y, const QString& text) {
  p.drawText(x, y + p.fontMetrics().ascent(), text);
}

namespace {

// Pens of width 1, one per colour, made once (text takes its colour from the pen).
struct Pens {
  QPen grayDots{QColor(kGray), 1, Qt::DotLine};
  QPen yellow{QColor(kYellow)}, lime{QColor(kLime)}, red{QColor(kRed)}, white{QColor(kWhite)}, aqua{QColor(kAqua)};
};
const Pens& SpectrumPens() {
  static const Pens pens;
  return pens;
}

const QFont& NoticeFont() {
  static const QFont font = [] {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(kUsbOffNoticePixels);
    f.setStyleStrategy(QFont::NoAntialias);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
  }();
  return font;
}

// The grid and the labels change only with the view, the gain offset, the tuned frequency
// and the stretch. They are drawn once into layers and copied from there while their
// inputs stay the same, which saves the dotted lines and most of the text of every block.
class Layer {
 public:
  // The layer for these inputs, redrawn (starting from black) only when they changed.
  template <typename Draw>
  const QImage& For(QSize size, QImage::Format format, std::array<int32_t, 3> key, Draw&& draw) {
    if (image_.size() != size || image_.format() != format || key != key_) {
      image_ = QImage(size, format);
      QPainter p(&image_);
      ClearImage(p, image_);
      draw(p);
      key_ = key;
    }
    return image_;
  }

 private:
  QImage image_;
  std::array<int32_t, 3> key_{};
};

void CopyLayer(QPainter& target, const QImage& layer) {
  target.setCompositionMode(QPainter::CompositionMode_Source);
  target.drawImage(0, 0, layer);
  target.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// Black with the five dotted vertical lines, then the dotted level lines of the view. A
// level line is the same dotted row wherever it lies (every one starts at x = 0), so one
// row is drawn once on a transparent strip and laid over each level.
void DrawGrid(QPainter& p, const QImage& picture, const SpectrumFrame& f) {
  static Layer vertical, levelRow;
  CopyLayer(p, vertical.For(picture.size(), picture.format(), {}, [](QPainter& v) {
    v.setPen(SpectrumPens().grayDots);
    for (int x : kTickX) v.drawLine(x, 0, x, kBottomRow);
  }));
  const QImage& row = levelRow.For(QSize(kSpectrumBins, 1), QImage::Format_ARGB32_Premultiplied, {}, [](QPainter& r) {
    r.setCompositionMode(QPainter::CompositionMode_Clear);
    r.fillRect(0, 0, kSpectrumBins, 1, Qt::transparent);
    r.setCompositionMode(QPainter::CompositionMode_SourceOver);
    r.setPen(SpectrumPens().grayDots);
    r.drawLine(0, 0, kSpectrumBins - 1, 0);
  });
  if (f.logarithmic) {
    for (int r = 0; r < f.gridRowCount; ++r) p.drawImage(0, f.gridRowY[r], row);
  } else {
    for (const LinearLine& line : kLinearLines) p.drawImage(0, line.y, row);
  }
}

// Yellow level labels, the same on both scales.
void DrawLevelLabels(QPainter& p, const SpectrumFrame& f) {
  p.setFont(PictureFont());
  p.setPen(SpectrumPens().yellow);
  if (f.logarithmic) {
    for (int r = 0; r < f.gridRowCount; ++r) DrawTextAt(p, 1, f.gridRowY[r] - 7, QString::fromUtf8(f.gridLabel[r]));
  } else {
    for (const LinearLine& line : kLinearLines) DrawTextAt(p, line.labelX, line.labelY, QString::fromUtf8(line.label));
  }
}

void DrawFrequencyLabels(QPainter& p, const SpectrumFrame& f) {
  p.setFont(PictureFont());
  p.setPen(SpectrumPens().yellow);
  for (int t = 0; t < 5; ++t) DrawTextAt(p, f.frequencyLabelX[t], 2, QString::fromUtf8(f.frequencyLabel[t]));
}

}  // namespace

void PaintSpectrum(const SpectrumFrame& f, SpectrumPictures& pics) {
  static Layer levelLayer, frequencyLayer;  // main thread only
  const Pens& pens = SpectrumPens();
  const int32_t view = f.logarithmic ? 0 : 1;
  const int32_t levelTop = f.logarithmic ? f.levelTop : 0;  // the linear labels are fixed

  {
    QPainter spectr(pics.spectr);
    DrawGrid(spectr, *pics.spectr, f);
    spectr.setPen(pens.lime);
    spectr.drawPolyline(f.trace, kSpectrumBins);
    spectr.setPen(pens.red);
    spectr.drawLine(f.markerX[0], 0, f.markerX[0], kSpectrumHeight);
    spectr.setPen(pens.yellow);
    spectr.drawLine(f.markerX[1], 0, f.markerX[1], kSpectrumHeight);
    if (f.usbOff) {
      spectr.setFont(NoticeFont());
      spectr.setPen(pens.red);
      DrawTextAt(spectr, kUsbOffNoticeAt.x(), kUsbOffNoticeAt.y(), QString::fromUtf8(kUsbOffNotice));
    }
  }
  for (QImage* scale : {pics.lScale, pics.rScale}) {
    QPainter p(scale);
    CopyLayer(p, levelLayer.For(scale->size(), scale->format(), {view, levelTop, 0},
                                [&](QPainter& l) { DrawLevelLabels(l, f); }));
  }
  {
    QPainter fscale(pics.fScale);
    CopyLayer(fscale, frequencyLayer.For(pics.fScale->size(), pics.fScale->format(), {f.fc, f.decimation, 0},
                                         [&](QPainter& p) { DrawFrequencyLabels(p, f); }));
  }

  QPainter data(pics.spectrData);
  ClearImage(data, *pics.spectrData);
  data.setFont(PictureFont());
  struct Readout { const char* text; const QPen& pen; int x; };
  const Readout readouts[] = {
      {f.markerReadout[0], pens.red, 30},  {f.markerReadout[1], pens.yellow, 152}, {f.markerReadout[2], pens.lime, 274},
      {f.peakReadout[0], pens.white, 370}, {f.peakReadout[1], pens.aqua, 448},
  };
  for (const Readout& r : readouts) {
    data.setPen(r.pen);
    DrawTextAt(data, r.x, 4, QString::fromUtf8(r.text));
  }
}

void RenderSpectrum(SpectrumState& s, const SpectrumControls& c, SpectrumPictures& pics) {
  SpectrumFrame frame;
  LayoutSpectrum(s, c, frame);
  PaintSpectrum(frame, pics);
}

void AddSampleBlock(SpectrumState& s, const int16_t* block, const SpectrumControls& c, SpectrumPictures& pics) {
  ProcessSampleBlock(s, block, c);
  RenderSpectrum(s, c, pics);
}

bool SpectrMouseDown(SpectrumState& s, Qt::MouseButton button, int x, const SpectrumControls& c,
                     SpectrumPictures& pics) {
  if (x < 0 || x >= kSpectrumBins) return false;  // only pixels of the spectrum place markers
  bool moved = false;
  if (button == Qt::LeftButton && x < s.Marker2X) {
    moved = s.Marker1X != x;
    s.Marker1X = x;
  } else if (button == Qt::RightButton && x > s.Marker1X) {
    moved = s.Marker2X != x;
    s.Marker2X = x;
  }
  if (moved) RenderSpectrum(s, c, pics);
  return moved;
}
