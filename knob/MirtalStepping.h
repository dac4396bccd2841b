#pragma once
// How one repaint moves the knob: the value is stepped inside the repaint, at most one step
// per tick of the repeat timer while a direction is active and not halted. Also where the
// marker lands.

#include <QPoint>
#include <cstdint>

namespace mirtal {

// What the mode property selects.
enum class Face {
  Large,   // large knob with a dimple, stepped by Step/BigStep between DNRange and UpRange
  Small,   // smaller knob with a dot pointer, scale 0 to 255
  Degree,  // large knob, 0 to 359 wrapping
  None,    // nothing is drawn, nothing stepped
};

Face FaceForMode(std::int32_t mode);

struct Motion {
  std::int32_t value = 0;
  std::int32_t position = 0;  // ticks clockwise from the top
  bool down = false;          // left button or Run down
  bool up = false;            // right button or Run up
  bool halted = false;        // a direction ended; repaints neither step nor draw
  // A repeat tick came since the last step. Only a tick's repaint steps: a repaint for any
  // other reason (a written value, an exposure, a tooltip) would otherwise step as well, and
  // a container that writes the value back on every GetValue would turn the knob unbounded.
  bool tickDue = false;
};

struct StepSizes {
  std::int32_t step;
  std::int32_t bigStep;
  std::int32_t upRange;
  std::int32_t dnRange;
};

// Takes the step of one repaint, when a tick is due. Returns true when the knob is to be
// drawn (false: halted, or a face that draws nothing); GetValue fires either way.
bool StepOnRepaint(Face face, Motion& m, const StepSizes& sizes, bool shift);

// Pointer position of the smaller knob for a value: 30 at 0 (seven o'clock), 75 at 255.
std::int32_t SmallKnobPosition(std::int32_t value);

int TicksPerTurn(Face face);

// Top-left corner of the marker picture for a position.
QPoint MarkerCorner(Face face, std::int32_t position);

}  // namespace mirtal
