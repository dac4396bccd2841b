// Spectrum processing and drawing: the sample ring, the transform through the external
// "fft" entry point, averaging, and the five pictures of the main window's spectrum display
// (readouts, two level scales, the spectrum itself, the frequency scale).
//
// Everything here runs in the main window's thread, except that the USB worker thread writes
// SpectrumState::ReportedGain (read once per drawing).
#pragma once

#include <QImage>
#include <QPoint>
#include <Qt>

#include <atomic>
#include <cstddef>
#include <cstdint>

class QFont;
class QPainter;
class QString;

using FftEntryPoint = void (*)(float*, float*, int, float*, float*);

inline constexpr int kSpectrumBins = 512;       // points per transform and pixels across
inline constexpr int kSpectrumHeight = 240;     // rows of the spectrum and the level scales
inline constexpr int kSpectrumSpanHz = 11070;   // span of the 512 bins at decimation 1
inline constexpr int kSampleBlockSamples = 2048;
inline constexpr int kSampleRingSamples = 16384;  // the last 8 blocks
inline constexpr int kHistorySlots = 16;
inline constexpr int kLevelTopDb = 167;         // logarithmic view: level of row 0 before the gain offset

class SpectrumRowSink;

// Pixels of the five frequency ticks (the grid lines of the spectrum) and their offsets from
// the tuned frequency at decimation 1.
inline constexpr int kFrequencyTickX[5] = {25, 140, 256, 372, 487};
inline constexpr int kFrequencyTickOffsetHz[5] = {-5000, -2500, 0, 2500, 5000};

// The one spectrum record of the program (see the field comments for who writes what).
struct SpectrumState {
  std::atomic<int32_t> ReportedGain{0};  // dB from the last C report; written by the USB worker
  int32_t PeakLevel = 0;                 // dB of the strongest bin of the last drawing ("Ls")
  int32_t PeakFrequency = 0;             // Hz of that bin ("Fs")
  int32_t Marker1X = 25;                 // pixel of marker 1, always left of marker 2
  int32_t Marker2X = 487;
  int32_t Marker1Frequency = 0;          // Hz under the markers, recomputed at every drawing
  int32_t Marker2Frequency = 0;
  double Magnitude[kSpectrumBins] = {};  // current spectrum, zero offset at bin 256
  double History[kHistorySlots][kSpectrumBins] = {};  // spectra kept for averaging
  int32_t HistoryIndex = 0;              // slot the next averaged spectrum goes into
  int16_t SampleRing[kSampleRingSamples] = {};  // I/Q pairs, I first
  int32_t RingPosition = 0;              // where the next block goes; a multiple of 2048
  FftEntryPoint FftEntry = nullptr;      // the library's "fft", or none
};

struct SpectrumControls {        // read from the windows at the moment of use
  int scalingIndex = 0;          // TSettings.SpectrScaling.ItemIndex: 0 "Нет", 1 "Да"
  int avrCount = 16;             // TSettings.AvrCnt text as a number: 16, 8, 4 or 2
  int mashtabIndex = 0;          // TSettings.SpectrMashtab.ItemIndex: 0 "Лог", 1 "Лин"
  bool avrDown = false;          // TMain.BtnAvr down
  int bandwidthDown = 3;         // first down of BtnPol12k, 8k, 6k, 3k, 1k, 0k5 as 0..5; -1 none
  int32_t fc = 1000000;          // FreqkHz.Value * 1000 + FreqHz.Value
  bool aruDown = true;           // TMain.BtnARU down
  bool uvcDown = true;           // TMain.BtnUvc down
  int rruPosition = 0;           // TMain.SldRRU.Position
  int attVch = 0;                // TMain.AttVch.Value
  int linkKind = 1;              // TMain.LinkKind
  SpectrumRowSink* rowSink = nullptr;  // takes each block's spectrum before averaging; none: nobody
};

// Takes the magnitudes of each block as the transform gave them, before any averaging, with
// the controls they were computed under (the waterfall window, while it shows).
class SpectrumRowSink {
 public:
  virtual void AddSpectrumRow(const double* magnitudes, const SpectrumControls&, int32_t reportedGain) = 0;

 protected:
  ~SpectrumRowSink() = default;
};

// The main window's five images: 562x20, 25x240, 512x240, 25x240, 562x20.
struct SpectrumPictures { QImage* spectrData; QImage* lScale; QImage* spectr; QImage* rScale; QImage* fScale; };

// Takes one sample block (2048 samples, I/Q pairs), updates the spectrum and redraws.
void AddSampleBlock(SpectrumState&, const int16_t* block, const SpectrumControls&, SpectrumPictures&);

// Redraws all five pictures and leaves PeakLevel, PeakFrequency and the marker
// frequencies in the state; in the logarithmic view it also clamps the magnitudes.
void RenderSpectrum(SpectrumState&, const SpectrumControls&, SpectrumPictures&);

// Mouse-down in the spectrum at pixel x: the left button moves marker 1 (only left of
// marker 2), the right button marker 2 (only right of marker 1). Redraws and returns true
// only when a marker moved.
bool SpectrMouseDown(SpectrumState&, Qt::MouseButton, int x, const SpectrumControls&, SpectrumPictures&);

// --- The steps behind the three calls, for callers and tests that need them one by one ---

// Decimation D: 1 without stretch; with stretch 1, 1, 2, 4, 8, 16 for the 12k ... 0.5k
// bandwidth buttons, 1 when none is down.
int DecimationFactor(const SpectrumControls&);

// Level offset G in dB of the level scale, from the gain controls and the reported gain.
int GainOffset(const SpectrumControls&, int32_t reportedGain);

// "%5d.%03d" of hz / 1000 and hz mod 1000 (kHz with three decimals) between a prefix and a
// suffix, as every frequency label and readout shows it.
void FormatKilohertz(char* out, std::size_t size, const char* prefix, int32_t hz, const char* suffix);

// Frequency in Hz of bin x (the peak readout) and of pixel x (the markers).
int32_t BinFrequency(int32_t fc, int x, int decimation);
int32_t MarkerFrequency(int32_t fc, int x, int decimation);

// Steps of AddSampleBlock before the drawing: ring, pair selection, transform, magnitudes,
// averaging. Allocates nothing.
void ProcessSampleBlock(SpectrumState&, const int16_t* block, const SpectrumControls&);

// Everything one drawing shows, computed without touching a picture. Fixed size: laying
// out a drawing allocates nothing; painting it costs only the toolkit's painters and the
// text of the readouts (grid and labels are kept between drawings).
struct SpectrumFrame {
  static constexpr int kMaxGridRows = 13;   // level lines 10 dB apart over 120 rows of dB
  static constexpr int kLabelChars = 40;    // room for the longest readout in UTF-8

  bool logarithmic = true;
  bool usbOff = false;
  int levelTop = 0;                         // level of row 0 in the logarithmic view, dB
  int32_t fc = 0;                           // tuned frequency and decimation of the labels
  int decimation = 1;
  QPoint trace[kSpectrumBins];
  int gridRowCount = 0;
  int gridRowY[kMaxGridRows] = {};         // y of each level line (may lie above the picture)
  char gridLabel[kMaxGridRows][12] = {};   // its level in dB
  char frequencyLabel[5][kLabelChars] = {};
  int frequencyLabelX[5] = {};
  int markerX[2] = {};
  char markerReadout[3][kLabelChars] = {};  // F1, F2, dF
  char peakReadout[2][kLabelChars] = {};    // Ls, Fs
};

// The computing half of RenderSpectrum: fills the frame and writes PeakLevel,
// PeakFrequency, the marker frequencies and (logarithmic view) the clamped magnitudes.
void LayoutSpectrum(SpectrumState&, const SpectrumControls&, SpectrumFrame&);

// The drawing half: paints a laid-out frame onto the five pictures.
void PaintSpectrum(const SpectrumFrame&, SpectrumPictures&);

// The pictures' default font (only its colour changes) and text placed by the top-left
// corner of its cell, as the image canvases of the windows place it.
const QFont& PictureFont();
void DrawTextAt(QPainter&, int x, int y, const QString& text);
