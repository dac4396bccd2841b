// Shared pieces of the spectrum benchmarks: sample blocks as a receiver delivers them, the
// main window's five pictures, and a main() with the Qt application they draw under.
#pragma once

#include "app/spectrum/Uspectr.h"

#include <QImage>

#include <cstdint>
#include <vector>

// A strong carrier, a weak one and a little noise; the blocks follow one another in time.
std::vector<int16_t> SampleBlock(int blockNumber);

struct Pictures {
  QImage spectrData{562, 20, QImage::Format_RGB32}, lScale{25, 240, QImage::Format_RGB32},
      spectr{512, 240, QImage::Format_RGB32}, rScale{25, 240, QImage::Format_RGB32},
      fScale{562, 20, QImage::Format_RGB32};
  SpectrumPictures pictures{&spectrData, &lScale, &spectr, &rScale, &fScale};
};

// Runs the registered benchmarks under a Qt application (offscreen unless told otherwise).
int RunBenchmarksWithQt(int argc, char** argv);
