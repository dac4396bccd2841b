#include "app/controls/PictureButton.h"

#include "app/controls/AccessibleControls.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QPainter>

TPictureButton::TPictureButton(QWidget* parent, const QString& name, const QString& face,
                               Kind kind, int groupIndex)
    : QAbstractButton(parent), face_(face), kind_(kind), group_(groupIndex) {
  setObjectName(name);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  InstallAccessibleControls();
}

void TPictureButton::SetDown(bool down) {
  if (kind_ == Kind::Push) return;
  if (down && kind_ == Kind::Group) ReleaseGroupSiblings();
  Latch(down);
}

void TPictureButton::Latch(bool down) {
  if (down_ == down) return;
  down_ = down;
  update();
  // Screen readers hear a latched button as checked, a released one as unchecked.
  QAccessible::State changed;
  changed.checked = true;
  QAccessibleStateChangeEvent event(this, changed);
  QAccessible::updateAccessibility(&event);
}

void TPictureButton::ReleaseGroupSiblings() {
  if (!parentWidget()) return;
  for (auto* other : parentWidget()->findChildren<TPictureButton*>(Qt::FindDirectChildrenOnly)) {
    if (other != this && other->kind_ == Kind::Group && other->group_ == group_) other->Latch(false);
  }
}

void TPictureButton::PerformClick() {
  switch (kind_) {
    case Kind::Push: break;
    case Kind::Toggle: SetDown(!down_); break;
    case Kind::Group: SetDown(true); break;
  }
  if (OnClick) OnClick();
}

void TPictureButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  pressed_ = true;
  update();
}

void TPictureButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  update();
  if (rect().contains(e->position().toPoint())) PerformClick();
}

// The picture: a dark bevelled plate; a latched button is sunk and lit.
void TPictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  const bool sunk = down_ || pressed_;
  QLinearGradient plate(r.topLeft(), r.bottomLeft());
  if (sunk) {
    plate.setColorAt(0, QColor(0x10, 0x30, 0x10));
    plate.setColorAt(1, QColor(0x20, 0x50, 0x20));
  } else {
    plate.setColorAt(0, QColor(0x5a, 0x5a, 0x5a));
    plate.setColorAt(1, QColor(0x2a, 0x2a, 0x2a));
  }
  p.fillRect(r, plate);
  p.setPen(sunk ? QColor(0x08, 0x08, 0x08) : QColor(0x9a, 0x9a, 0x9a));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(sunk ? QColor(0x70, 0x90, 0x70) : QColor(0x10, 0x10, 0x10));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  if (face_.isEmpty()) {
    // Face-less tool buttons carry a small lamp instead of a label.
    p.setBrush(down_ ? QColor(0x00, 0xff, 0x00) : QColor(0x30, 0x60, 0x30));
    p.setPen(Qt::black);
    p.drawEllipse(rect().center(), 4, 4);
    return;
  }
  QFont f = font();
  f.setBold(true);
  f.setPixelSize(face_.size() > 7 ? 9 : 11);
  p.setFont(f);
  p.setPen(sunk ? QColor(0x00, 0xff, 0x00) : QColor(0xf0, 0xf0, 0xf0));
  QRect text = rect();
  if (sunk) text.translate(1, 1);
  p.drawText(text, Qt::AlignCenter | Qt::TextWordWrap, face_);
}
