#include "app/spectrum/UwaterfallPalette.h"

#include <algorithm>
#include <cmath>

namespace {

// The published degree-6 polynomial fit of viridis (Matt Zucker, CC0): channel value at
// t in 0 … 1 is the sum of kViridis[n][channel] * t^n.
constexpr double kViridis[7][3] = {
    {0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
    {0.1050930431085774, 1.404613529898575, 1.384590162594685},
    {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
    {-4.634230498983486, -5.799100973351585, -19.33244095627987},
    {6.228269936347081, 14.17993336680509, 56.69055260068105},
    {4.776384997670288, -13.74514537774601, -65.35303263337234},
    {-5.435455855934631, 4.645852612178535, 26.3124352495832},
};

int Channel(double t, int channel) {
  double v = 0;
  for (int n = 6; n >= 0; --n) v = v * t + kViridis[n][channel];
  return std::clamp(static_cast<int>(std::lround(v * 255)), 0, 255);
}

}  // namespace

const std::array<QRgb, kPaletteColours>& WaterfallPalette() {
  static const std::array<QRgb, kPaletteColours> palette = [] {
    std::array<QRgb, kPaletteColours> p{};
    for (int i = 0; i < kPaletteColours; ++i) {
      const double t = i / double(kPaletteColours - 1);
      p[size_t(i)] = qRgb(Channel(t, 0), Channel(t, 1), Channel(t, 2));
    }
    return p;
  }();
  return palette;
}
