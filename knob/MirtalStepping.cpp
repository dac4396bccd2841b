#include "knob/MirtalStepping.h"

#include <cmath>
#include <limits>

#include "knob/MirtalIds.h"

namespace mirtal {
namespace {

constexpr double kSmallScale = 0.17857142857142858;  // 45 ticks over 255 units
constexpr double kTwoPi = 6.283185307;

// Steps are summed in 64 bits and the result brought back into 32 bits, so that limits at
// the ends of the 32-bit range (as a container sets them) can never wrap the value round.
std::int32_t Saturate(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// The position only counts turns for drawing; it wraps rather than overflow.
std::int32_t Turn(std::int32_t position, int ticks) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(position) + static_cast<std::uint32_t>(ticks));
}

void StepLarge(Motion& m, const StepSizes& s, bool shift) {
  std::int64_t v = m.value;
  if (m.down && v > s.dnRange) {
    // A step that would go below the lower limit is refused: coarse falls back to fine,
    // fine is dropped.
    if (shift && v - s.bigStep > s.dnRange) {
      m.position = Turn(m.position, -5);
      v -= s.bigStep;
    } else if (v - s.step >= s.dnRange) {
      m.position = Turn(m.position, -1);
      v -= s.step;
    }
    if (v < 0) v = 0;
  }
  if (m.up && v < s.upRange) {
    // Turning up clamps the last step to the upper limit.
    if (shift) {
      m.position = Turn(m.position, 5);
      v += s.bigStep;
    } else {
      m.position = Turn(m.position, 1);
      v += s.step;
    }
    if (v > s.upRange) v = s.upRange;
  }
  m.value = Saturate(v);
}

void StepSmall(Motion& m) {
  if (m.down && m.value > 0) {
    double v = std::ceil(static_cast<double>(m.value) - 5.6);
    if (v < 0) v = 0;
    m.value = static_cast<std::int32_t>(v);
    m.position = SmallKnobPosition(m.value);
  }
  if (m.up && m.value < 255) {
    double v = std::ceil(static_cast<double>(m.value) + 5.6);
    if (v >= 255) v = 255;
    m.value = static_cast<std::int32_t>(v);
    m.position = SmallKnobPosition(m.value);
  }
}

void StepDegree(Motion& m, const StepSizes& s, bool shift) {
  // The value jumps to the other end instead of carrying the remainder.
  std::int64_t v = m.value;
  if (m.down) {
    m.position = Turn(m.position, shift ? -5 : -1);
    v -= shift ? s.bigStep : s.step;
    if (v < 0) v = 359;
  }
  if (m.up) {
    m.position = Turn(m.position, shift ? 5 : 1);
    v += shift ? s.bigStep : s.step;
    if (v > 359) v = 0;
  }
  m.value = Saturate(v);
}

}  // namespace

Face FaceForMode(std::int32_t mode) {
  if constexpr (kVariantG) {
    switch (mode) {
      case 0: return Face::Large;
      case 1: return Face::Small;
      case 2: return Face::Degree;
      default: return Face::None;
    }
  }
  return mode == 0 ? Face::Large : Face::Small;
}

bool StepOnRepaint(Face face, Motion& m, const StepSizes& sizes, bool shift) {
  if (face == Face::None) return false;
  if (!m.down && !m.up) return true;
  if (m.halted) return false;
  if (!m.tickDue) return true;
  m.tickDue = false;
  switch (face) {
    case Face::Large: StepLarge(m, sizes, shift); break;
    case Face::Small: StepSmall(m); break;
    case Face::Degree: StepDegree(m, sizes, shift); break;
    case Face::None: break;
  }
  return true;
}

std::int32_t SmallKnobPosition(std::int32_t value) {
  return static_cast<std::int32_t>(std::floor(value * kSmallScale)) + 30;
}

int TicksPerTurn(Face face) { return face == Face::Small ? 52 : 66; }

QPoint MarkerCorner(Face face, std::int32_t position) {
  const double radius = face == Face::Small ? 10.0 : 17.0;
  const double theta = position * kTwoPi / TicksPerTurn(face);
  const int x = static_cast<int>(std::ceil(radius * std::sin(theta))) + 23;
  const int y = 23 - static_cast<int>(std::ceil(radius * std::cos(theta)));
  return {x, y};
}

}  // namespace mirtal
