// The waterfall window TWaterfall: the history of the spectrum as a scrolling picture, one
// row per sample block with the newest on top, so that a carrier reads as a line, a keyed
// telegraph station as a dashed line and an FSK station as a pair of lines. A time scale
// at the side counts seconds back from the newest row, a frequency scale under the picture
// reads the newest row's columns, and two sliders narrow the level range within the
// spectrum's scale. A left click tunes the receiver to the frequency under the pointer.
//
// It costs nothing while hidden: the main window hands it rows only while it shows.
#pragma once

#include <QLabel>
#include <QSlider>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "app/controls/ToolWindow.h"
#include "app/spectrum/Uspectr.h"
#include "app/spectrum/UwaterfallRows.h"

// The picture: the ring of rows, one pixel row each, stretched across the width. The
// ring follows the picture's height.
class WaterfallPicture : public QWidget {
 public:
  WaterfallPicture(QWidget* parent, WaterfallRows& rows);
  // The spectrum bin (0 … 511) under horizontal pixel x.
  int ColumnAt(int x) const;

  std::function<void(Qt::MouseButton, QPoint)> OnMouseDown;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

 private:
  WaterfallRows& rows_;
};

// The frequency scale under the picture: the spectrum's five ticks and labels for the
// newest row's tuning.
class WaterfallFrequencyScale : public QWidget {
 public:
  explicit WaterfallFrequencyScale(QWidget* parent);
  void SetTuning(const WaterfallTuning&);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  WaterfallTuning tuning_;
};

// The time scale beside the picture: seconds before the newest row, at whole steps.
class WaterfallTimeScale : public QWidget {
 public:
  WaterfallTimeScale(QWidget* parent, const WaterfallRows& rows);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  const WaterfallRows& rows_;
};

// Seconds between two labels of the time scale: the shortest of the usual steps that keeps
// the labels `minPixels` apart at the rows' pace; 0 while the pace is unknown.
int TimeScaleStep(const WaterfallRows& rows, int minPixels);

class TWaterfall : public TToolWindow, public SpectrumRowSink {
  Q_OBJECT
 public:
  TWaterfall();

  // ---- Controls, in the order of the window's layout.
  WaterfallTimeScale* TScale;
  WaterfallPicture* WfPicture;
  WaterfallFrequencyScale* FScale;
  QLabel* LblLow;
  QSlider* SldLow;    // bottom of the level range, dB above the spectrum's bottom line
  QLabel* LblHigh;
  QSlider* SldHigh;   // top of the level range, likewise

  WaterfallRows Rows;

  // The main window's tuning step; a left click calls it with the column's frequency.
  std::function<void(int32_t)> TuneTo;
  // Milliseconds of a steady clock, stamped on each row.
  std::function<int64_t()> Clock;

  // A block's spectrum, before averaging (SpectrumRowSink).
  void AddSpectrumRow(const double* magnitudes, const SpectrumControls&, int32_t reportedGain) override;

  // Ctrl+W in the main window: shows the window, or closes it when it shows.
  void Toggle();
  // At the main window's first activation: shows the window again when it was open at
  // the end of the last run.
  void ReopenAtStart();
  bool OpenAtLastExit() const { return reopen_; }

  // ---- Handlers.
  void WfPictureMouseDown(Qt::MouseButton button, QPoint at);
  void SldLowChange();
  void SldHighChange();

 private:
  friend class WaterfallForm;
  void CreateControls();
  void ConnectHandlers();
  // The sliders' captions, in dB of the spectrum's current scale.
  void ShowLevels();

  bool reopen_ = false;
  int gain_ = 0;            // gain offset of the newest row, for the captions
  bool logarithmic_ = true;
};

extern TWaterfall* Waterfall;
