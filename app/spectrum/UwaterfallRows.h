// The waterfall's history: a ring of picture rows, one per sample block, newest on top.
// A row is the block's 512 magnitudes in the spectrum's bins, each turned into a colour
// by its place on the spectrum's level scale within the chosen range. When the frequency
// a column stands for changes (tuning, stretch), a thin line row goes in first, so the
// rows above and below it read against different frequency scales.
//
// Memory is fixed by the height: the ring is allocated when it is made or resized, never
// per row.
#pragma once

#include <QImage>

#include <cstdint>
#include <optional>
#include <vector>

#include "app/spectrum/Uspectr.h"

// How the columns of one row map to frequencies, and how its levels are read.
struct WaterfallTuning {
  int32_t fc = 0;        // tuned frequency, Hz
  int decimation = 1;    // the spectrum's stretch D
  bool logarithmic = true;  // the spectrum's view: absolute dB, or linear to the strongest bin

  bool SameColumns(const WaterfallTuning& o) const { return fc == o.fc && decimation == o.decimation; }
};

// Place of a magnitude on the spectrum's level scale, 0 (bottom line) … 1 (top row).
// Logarithmic view: 20 log10(m) from -40 to 80 dB, as the spectrum clamps it. Linear view:
// m against the row's strongest bin, never less than the floor the spectrum keeps.
double LevelOnScale(double magnitude, bool logarithmic, double strongest);

class WaterfallRows {
 public:
  static constexpr int kColumns = kSpectrumBins;
  static constexpr QRgb kEmpty = 0xFF000000;       // rows not yet written
  static constexpr QRgb kChangeLine = 0xFFFFFFFF;  // the line at a change of the columns' frequencies

  enum class Kind : uint8_t { Empty, Spectrum, ChangeLine };
  struct RowInfo {
    Kind kind = Kind::Empty;
    WaterfallTuning tuning;
    int64_t timeMs = 0;  // when the row came (a line: with the row after it)
  };

  explicit WaterfallRows(int capacity);

  int Capacity() const { return capacity_; }
  int Count() const { return count_; }  // rows written so far, lines included, at most Capacity
  // Keeps the newest rows that fit; allocates. A capacity below 1 counts as 1.
  void Resize(int capacity);

  // The level range as places on the scale (see LevelOnScale), low below high: levels at
  // or below low take the first colour, at or above high the last.
  void SetRange(double low, double high);
  double Low() const { return low_; }
  double High() const { return high_; }

  // Adds one block's row on top; a change line first when the columns' frequencies differ
  // from those of the newest block row. Allocates nothing.
  void AddRow(const double* magnitudes, const WaterfallTuning&, int64_t timeMs);

  // Row r counted from the top (0 = newest), r < Capacity.
  const RowInfo& Info(int r) const { return info_[size_t(Index(r))]; }
  const QRgb* Pixels(int r) const { return &pixels_[size_t(Index(r)) * kColumns]; }
  // The frequency under column x (0 … 511) of row r: bin x's frequency under that row's
  // tuning; none for a line or a row not yet written.
  std::optional<int32_t> ColumnFrequency(int r, int x) const;
  // The tuning of the newest block row; none before the first.
  std::optional<WaterfallTuning> NewestTuning() const;

  // The ring as one image (row i of the image is ring slot i) and the slot of the newest
  // row: the picture is slots Head() … Capacity-1 followed by 0 … Head()-1.
  const QImage& Ring() const { return ring_; }
  int Head() const { return head_; }

 private:
  int Index(int r) const { return (head_ + r) % capacity_; }
  QRgb* PushRow(const RowInfo&);

  int capacity_ = 0;
  int head_ = 0;
  int count_ = 0;
  double low_ = 0, high_ = 1;
  std::vector<QRgb> pixels_;    // capacity_ rows of kColumns
  std::vector<RowInfo> info_;
  QImage ring_;                 // a view of pixels_
  std::optional<WaterfallTuning> newest_;
};
