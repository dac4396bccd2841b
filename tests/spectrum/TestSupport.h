// Shared pieces of the spectrum tests: the Qt application, the transform library loaded
// as the program loads it, the five pictures, and pixel counting.
#pragma once

#include "app/spectrum/Uspectr.h"

#include <QImage>
#include <QRect>

// Creates the application object once (text drawing and widgets need it).
void EnsureQtApplication();

// The "fft" entry point of $PVESTRA_BIN/libFFT.so, or nullptr when it cannot be loaded.
FftEntryPoint LoadFftEntry();

// The main window's five images, each filled with one colour to start with.
struct SpectrumImages {
  QImage spectrData{562, 20, QImage::Format_RGB32};
  QImage lScale{25, 240, QImage::Format_RGB32};
  QImage spectr{512, 240, QImage::Format_RGB32};
  QImage rScale{25, 240, QImage::Format_RGB32};
  QImage fScale{562, 20, QImage::Format_RGB32};
  SpectrumPictures pictures{&spectrData, &lScale, &spectr, &rScale, &fScale};

  explicit SpectrumImages(QRgb fill = 0x123456);
  void Fill(QRgb colour);
};

// Pixels of the given colour inside the rectangle (clipped to the image).
int CountColour(const QImage& image, const QRect& area, QRgb colour);
// Rows (y) of one column that hold the given colour.
int FirstRowWithColour(const QImage& image, int x, QRgb colour);
