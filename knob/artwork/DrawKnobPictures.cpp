// Draws the knob pictures into PNG files: knob-artwork OUTPUT_FOLDER.
// The committed pictures in knob/pictures were made with it; run it again after changing
// the artwork. The markers are copied onto the knob as plain squares, so the large knob's face
// is one flat colour wherever the dimple can land, and the dimple's square carries that colour.

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

const QColor kFace(74, 76, 82);        // flat face of both knobs under the marker
const QColor kRimLight(168, 170, 176);
const QColor kRimDark(40, 41, 45);

QImage Canvas(int w, int h, QColor background, QImage::Format format = QImage::Format_RGB32) {
  QImage img(w, h, format);
  img.fill(background);
  return img;
}

// The large knob: centre (29.5, 29.5), so that a 13-pixel dimple whose corner is
// (23 + 17 sin, 23 - 17 cos) sits centred on a circle of radius 17.
QImage LargeKnob(QColor background) {
  QImage img = Canvas(65, 65, background);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(29.5, 29.5);
  p.setPen(Qt::NoPen);
  p.setBrush(background.darker(150));  // shadow to the lower right
  p.drawEllipse(c + QPointF(3, 3), 29.5, 29.5);
  // Knurled rim: 60 alternating ridges.
  for (int i = 0; i < 60; ++i) {
    p.setBrush(i % 2 ? kRimLight : kRimDark);
    p.drawPie(QRectF(c.x() - 29.5, c.y() - 29.5, 59, 59), i * 96, 96);
  }
  p.setBrush(kFace);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.drawEllipse(c, 27.0, 27.0);
  return img;
}

QImage Dimple() {
  QImage img = Canvas(13, 13, kFace);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(8.0, 8.0), 7.0);  // lit from the upper left: the hollow is dark there
  g.setColorAt(0.0, QColor(120, 122, 128));
  g.setColorAt(1.0, QColor(22, 22, 26));
  p.setPen(QPen(QColor(30, 30, 34), 0.8));
  p.setBrush(g);
  p.drawEllipse(QRectF(1, 1, 11, 11));
  return img;
}

// The smaller knob: centre (25, 25), a pointer circle of radius 10, twelve white dots around.
QImage SmallKnob(int w, int h, QColor background, QImage::Format format = QImage::Format_RGB32) {
  QImage img = Canvas(w, h, background, format);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(25, 25);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int i = 0; i < 12; ++i) {
    const double a = i * M_PI / 6;
    p.drawEllipse(c + QPointF(21 * std::sin(a), -21 * std::cos(a)), 1.6, 1.6);
  }
  p.setBrush(background.darker(150));
  p.drawEllipse(c + QPointF(2, 2), 17.0, 17.0);
  QRadialGradient rim(c - QPointF(6, 6), 24);
  rim.setColorAt(0.0, kRimLight);
  rim.setColorAt(1.0, kRimDark);
  p.setBrush(rim);
  p.drawEllipse(c, 17.0, 17.0);
  QRadialGradient face(c - QPointF(5, 5), 20);
  face.setColorAt(0.0, kFace.lighter(140));
  face.setColorAt(1.0, kFace);
  p.setBrush(face);
  p.drawEllipse(c, 14.5, 14.5);
  return img;
}

QImage Ball(bool withTwo) {
  QImage img = Canvas(22, 22, QColor(192, 192, 192));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(8, 8), 12);
  g.setColorAt(0.0, QColor(110, 110, 110));
  g.setColorAt(1.0, Qt::black);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(QRectF(1, 1, 20, 20));
  if (withTwo) {
    QFont f = p.font();
    f.setPixelSize(14);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::red);
    p.drawText(QRect(0, 0, 22, 22), Qt::AlignCenter, QStringLiteral("2"));
  }
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: knob-artwork OUTPUT_FOLDER\n");
    return 1;
  }
  const QString out = QString::fromLocal8Bit(argv[1]) + '/';
  const QColor grey95(192, 192, 192), greyNt(212, 210, 204), teal(0, 128, 128);
  QImage dot = Canvas(4, 4, Qt::black);
  bool ok = LargeKnob(grey95).save(out + "201.png") && LargeKnob(greyNt).save(out + "209.png") &&
            LargeKnob(teal).save(out + "214.png") && Dimple().save(out + "202.png") &&
            SmallKnob(50, 50, grey95).save(out + "203.png") && SmallKnob(50, 48, greyNt).save(out + "213.png") &&
            SmallKnob(50, 50, teal, QImage::Format_RGB888).save(out + "215.png") && dot.save(out + "204.png") &&
            Ball(false).save(out + "toolbox.png") && Ball(true).save(out + "toolbox-g.png");
  return ok ? 0 : 1;
}
