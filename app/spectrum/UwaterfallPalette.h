// The waterfall's colour map: viridis, 256 colours from dark blue-violet through teal to
// yellow. Its lightness rises evenly from end to end and it stays readable with the common
// colour-vision deficiencies, so equal steps of level look like equal steps of colour.
#pragma once

#include <QColor>

#include <array>

inline constexpr int kPaletteColours = 256;

// Entry 0 for the lowest level of the range, entry 255 for the highest. Computed once.
const std::array<QRgb, kPaletteColours>& WaterfallPalette();
