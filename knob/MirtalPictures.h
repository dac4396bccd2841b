#pragma once
// The knob's pictures and its off-screen composition: the knob picture is copied into the
// composition, the marker onto it at its corner, and the finished composition goes to the
// screen in one copy, so the knob never flickers.

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

#include "knob/MirtalStepping.h"

class QPainter;

namespace mirtal {

class MirtalPictures {
 public:
  // Loads every picture from the compiled-in resources; each one that cannot be had is
  // reported in a message box and left out of the drawing.
  void Load();
  bool IsLoaded() const { return loaded_; }

  // Draws the knob with its marker at position into the composition.
  void Compose(Face face, std::int32_t position);
  // Copies the last composition to the target at (0, 0), unscaled, and fills the rest of
  // area with the background.
  void CopyTo(QPainter& target, const QRect& area, const QColor& background) const;

 private:
  static QImage LoadPicture(const char* resource, const char* failureText);

  QImage back_;     // large knob (its size is the composition's)
  QImage back2_;    // smaller knob with the dot ring
  QImage piptik_;   // dimple of the large knob
  QImage piptik2_;  // dot pointer of the smaller knob
  QImage green_;    // teal large knob of the variant build
  QImage composition_;
  QSize copySize_;  // the part of the composition that goes to the screen
  bool loaded_ = false;
};

}  // namespace mirtal
