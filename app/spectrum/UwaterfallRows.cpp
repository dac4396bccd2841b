#include "app/spectrum/UwaterfallRows.h"

#include <algorithm>
#include <cmath>

#include "app/spectrum/UwaterfallPalette.h"

namespace {

// The spectrum's logarithmic view shows 20 log10(m) from -40 dB (bottom line) to 80 dB.
constexpr double kLogBottomDb = -40, kLogSpanDb = 120;
// Its linear view never zooms in beyond a strongest bin of this magnitude.
constexpr double kLinearFloor = 5.0;

}  // namespace

double LevelOnScale(double magnitude, bool logarithmic, double strongest) {
  double place;
  if (logarithmic)
    place = magnitude > 0 ? (20 * std::log10(magnitude) - kLogBottomDb) / kLogSpanDb : 0;
  else
    place = magnitude / std::max(strongest, kLinearFloor);
  if (!(place > 0)) return 0;  // also NaN from a faulty transform
  return place < 1 ? place : 1;
}

WaterfallRows::WaterfallRows(int capacity) { Resize(capacity); }

void WaterfallRows::Resize(int capacity) {
  capacity = std::max(capacity, 1);
  if (capacity == capacity_) return;
  const auto rows = static_cast<size_t>(capacity);
  std::vector<QRgb> pixels(rows * kColumns, kEmpty);
  std::vector<RowInfo> info(rows);
  const int kept = std::min(count_, capacity);
  for (int r = 0; r < kept; ++r) {
    std::copy_n(Pixels(r), kColumns, &pixels[size_t(r) * kColumns]);
    info[size_t(r)] = Info(r);
  }
  pixels_.swap(pixels);
  info_.swap(info);
  capacity_ = capacity;
  head_ = 0;
  count_ = kept;
  ring_ = QImage(reinterpret_cast<uchar*>(pixels_.data()), kColumns, capacity_, kColumns * int(sizeof(QRgb)),
                 QImage::Format_RGB32);
}

void WaterfallRows::SetRange(double low, double high) {
  low_ = std::clamp(low, 0.0, 1.0);
  high_ = std::clamp(high, 0.0, 1.0);
  if (!(high_ > low_)) {  // at least one colour's width apart
    high_ = std::min(1.0, low_ + 1.0 / kPaletteColours);
    low_ = high_ - 1.0 / kPaletteColours;
  }
}

QRgb* WaterfallRows::PushRow(const RowInfo& row) {
  head_ = (head_ + capacity_ - 1) % capacity_;
  count_ = std::min(count_ + 1, capacity_);
  info_[size_t(head_)] = row;
  return &pixels_[size_t(head_) * kColumns];
}

void WaterfallRows::AddRow(const double* magnitudes, const WaterfallTuning& tuning, int64_t timeMs) {
  if (newest_ && !newest_->SameColumns(tuning)) {
    QRgb* line = PushRow({Kind::ChangeLine, tuning, timeMs});
    std::fill_n(line, kColumns, kChangeLine);
  }
  newest_ = tuning;

  double strongest = 0;
  if (!tuning.logarithmic)
    for (int k = 0; k < kColumns; ++k) strongest = std::max(strongest, magnitudes[k]);
  const auto& palette = WaterfallPalette();
  const double scale = kPaletteColours / (high_ - low_);
  QRgb* row = PushRow({Kind::Spectrum, tuning, timeMs});
  for (int k = 0; k < kColumns; ++k) {
    const double place = (LevelOnScale(magnitudes[k], tuning.logarithmic, strongest) - low_) * scale;
    const int colour = place <= 0 ? 0 : (place >= kPaletteColours - 1 ? kPaletteColours - 1 : int(place));
    row[k] = palette[size_t(colour)];
  }
}

std::optional<int32_t> WaterfallRows::ColumnFrequency(int r, int x) const {
  if (r < 0 || r >= count_ || x < 0 || x >= kColumns) return std::nullopt;
  const RowInfo& row = Info(r);
  if (row.kind != Kind::Spectrum) return std::nullopt;
  return BinFrequency(row.tuning.fc, x, row.tuning.decimation);
}

std::optional<WaterfallTuning> WaterfallRows::NewestTuning() const { return newest_; }
