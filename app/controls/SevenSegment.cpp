#include "app/controls/SevenSegment.h"

#include "app/controls/AccessibleControls.h"

#include <QAccessible>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>

namespace {

// Segments a..g lit for each digit, bit 0 = a.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// Draws one digit cell; w, h the cell size. Segments are hexagons with a small gap.
void DrawDigit(QPainter& p, QRectF cell, uint8_t lit, const QColor& on, const QColor& off) {
  const double t = std::max(2.0, cell.width() * 0.16);  // segment thickness
  const double x0 = cell.left() + t / 2, x1 = cell.right() - t / 2;
  const double y0 = cell.top() + t / 2, ym = cell.center().y(), y1 = cell.bottom() - t / 2;
  auto horizontal = [&](double y) {
    return QPolygonF({{x0 + 1, y}, {x0 + t / 2 + 1, y - t / 2}, {x1 - t / 2 - 1, y - t / 2},
                      {x1 - 1, y}, {x1 - t / 2 - 1, y + t / 2}, {x0 + t / 2 + 1, y + t / 2}});
  };
  auto vertical = [&](double x, double ya, double yb) {
    return QPolygonF({{x, ya + 1}, {x + t / 2, ya + t / 2 + 1}, {x + t / 2, yb - t / 2 - 1},
                      {x, yb - 1}, {x - t / 2, yb - t / 2 - 1}, {x - t / 2, ya + t / 2 + 1}});
  };
  const QPolygonF seg[7] = {horizontal(y0),         vertical(x1, y0, ym), vertical(x1, ym, y1),
                            horizontal(y1),         vertical(x0, ym, y1), vertical(x0, y0, ym),
                            horizontal(ym)};
  p.setPen(Qt::NoPen);
  for (int s = 0; s < 7; ++s) {
    p.setBrush((lit >> s) & 1 ? on : off);
    p.drawPolygon(seg[s]);
  }
}

}  // namespace

TSevenSegment::TSevenSegment(QWidget* parent, const QString& name, int digits, bool leadingZeros,
                             int maxValue)
    : QWidget(parent), digits_(digits), leadingZeros_(leadingZeros), max_(maxValue) {
  setObjectName(name);
  setAttribute(Qt::WA_OpaquePaintEvent);
  InstallAccessibleControls();
}

void TSevenSegment::SetValue(int value) {
  value = std::clamp(value, 0, max_);
  if (value == value_) return;
  value_ = value;
  update();
  // Screen readers read the digits as the display's name.
  QAccessibleEvent changed(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

QString TSevenSegment::Text() const {
  QString s = QString::number(value_);
  return s.rightJustified(digits_, leadingZeros_ ? QChar('0') : QChar(' '));
}

void TSevenSegment::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), Qt::black);
  const QString text = Text();
  const double cellW = double(width() - 4) / digits_;
  const QColor on(0x00, 0xff, 0x00), off(0x00, 0x18, 0x00);
  for (int i = 0; i < digits_; ++i) {
    const QChar c = text[i];
    const uint8_t lit = c.isDigit() ? kSegments[c.digitValue()] : 0;
    QRectF cell(2 + i * cellW + cellW * 0.12, 4, cellW * 0.76, height() - 8);
    DrawDigit(p, cell, lit, on, off);
  }
}
