#include "app/controls/ImageControl.h"

#include "app/controls/AccessibleControls.h"

#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget* parent, const QString& name, QSize size)
    : QWidget(parent), picture_(size, QImage::Format_RGB32) {
  setObjectName(name);
  picture_.fill(Qt::black);
  setFixedSize(size);
  setAttribute(Qt::WA_OpaquePaintEvent);
  InstallAccessibleControls();
}

void TImage::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  p.drawImage(e->rect(), picture_, e->rect());
}

void TImage::mousePressEvent(QMouseEvent* e) {
  if (OnMouseDown) OnMouseDown(e->button(), e->position().toPoint());
}
