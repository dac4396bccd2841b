#include "tests/spectrum/TestSupport.h"

#include "tests/fft/FftLibraryPath.h"

#include <QApplication>

#include <dlfcn.h>


void EnsureQtApplication() {
  static int argc = 1;
  static char name[] = "spectrum_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
  (void)app;
}

FftEntryPoint LoadFftEntry() {
  void* library = dlopen(FftLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);  // kept loaded for the run
  return library ? reinterpret_cast<FftEntryPoint>(dlsym(library, "fft")) : nullptr;
}

SpectrumImages::SpectrumImages(QRgb fill) { Fill(fill); }

void SpectrumImages::Fill(QRgb colour) {
  for (QImage* image : {&spectrData, &lScale, &spectr, &rScale, &fScale}) image->fill(colour);
}

int CountColour(const QImage& image, const QRect& area, QRgb colour) {
  const QRect r = area.intersected(image.rect());
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
  return n;
}

int FirstRowWithColour(const QImage& image, int x, QRgb colour) {
  for (int y = 0; y < image.height(); ++y)
    if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return y;
  return -1;
}
