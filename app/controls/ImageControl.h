// An image control: a fixed-size picture that code draws into and the widget shows.
// Mouse presses are handed to OnMouseDown with the button and the position in the picture.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

class TImage : public QWidget {
  Q_OBJECT
 public:
  TImage(QWidget* parent, const QString& name, QSize size);

  QImage& Picture() { return picture_; }
  // Shows the picture's current content (call after drawing into it).
  void Changed() { update(); }

  std::function<void(Qt::MouseButton, QPoint)> OnMouseDown;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

 private:
  QImage picture_;
};
