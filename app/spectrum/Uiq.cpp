// The IQ window: waveforms or numbers of each sample block.
#include "app/spectrum/Uiq.h"

#include "app/spectrum/Uspectr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QString>

namespace {

constexpr int kClientWidth = 1034, kClientHeight = 163;
constexpr int kPictureLeft = 5, kPictureTop = 30;
constexpr int kPictureWidth = 1024, kPictureHeight = 128;
constexpr int kMidRow = kPictureHeight / 2;
constexpr int kDefaultSpan = 65536;  // the 16-bit range fills the height

const char* const kNumbersItem = "Числа";
const char* const kScaleItems[] = {"Числа", "65536", "32768", "16384", "8192", "4096", "2048", "1024",
                                   "512",   "256",   "128",   "64",    "32",   "16",   "8"};
constexpr int kDefaultScaleIndex = 1;

constexpr QRgb kLime = 0x00FF00, kYellow = 0xFFFF00;
constexpr int kNumberColumnX = 10, kNumberColumnStep = 50, kIRowY = 30, kQRowY = 78;

}  // namespace

IqPicture::IqPicture(int width, int height, QWidget* parent)
    : QFrame(parent), picture_(width, height, QImage::Format_RGB32) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  picture_.fill(Qt::black);
}

void IqPicture::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  p.drawImage(contentsRect().topLeft(), picture_);
}

TIQ::TIQ(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setWindowTitle(QStringLiteral("IQ-компоненты"));
  setFixedSize(kClientWidth, kClientHeight);

  IQWin = new IqPicture(kPictureWidth, kPictureHeight, this);
  IQWin->setGeometry(kPictureLeft - 1, kPictureTop - 1, kPictureWidth + 2, kPictureHeight + 2);
  IQWin->setAccessibleName("IQ-компоненты");

  VScale = new QComboBox(this);  // a plain QComboBox is selection only
  VScale->setObjectName("VScale");  // the three view settings are kept by these names
  for (const char* item : kScaleItems) VScale->addItem(QString::fromUtf8(item));
  VScale->setCurrentIndex(kDefaultScaleIndex);
  VScale->setGeometry(kPictureLeft, 4, 90, 22);
  // The list has no caption on the window; the reader takes its name from this unseen one.
  auto* scaleCaption = new QLabel(QStringLiteral("Масштаб"), this);
  scaleCaption->setBuddy(VScale);
  scaleCaption->hide();

  IOn = new QCheckBox(QStringLiteral("I"), this);
  IOn->setObjectName("IOn");
  IOn->setChecked(true);
  IOn->setGeometry(110, 5, 40, 20);
  QOn = new QCheckBox(QStringLiteral("Q"), this);
  QOn->setObjectName("QOn");
  QOn->setChecked(true);
  QOn->setGeometry(160, 5, 40, 20);

  FormCreate();
}

void TIQ::FormCreate() {
  static const int16_t zeroBlock[2 * kPairs] = {};
  ShowIqBlock(zeroBlock);
}

void TIQ::ShowIqBlock(const int16_t* block) {
  static const QString numbers = QString::fromUtf8(kNumbersItem);
  const QString scale = VScale->currentText();
  if (scale == numbers) {
    ShowNumbers(block);
  } else {
    bool isNumber = false;
    const int span = scale.toInt(&isNumber);
    ShowWaveforms(block, isNumber && span != 0 ? span : kDefaultSpan);
  }
  IQWin->update();
}

void TIQ::ShowNumbers(const int16_t* block) {
  QImage& picture = IQWin->Picture();
  QPainter p(&picture);
  p.fillRect(picture.rect(), Qt::black);
  p.setFont(PictureFont());
  for (int pair = 0; pair < kNumberPairs; ++pair) {
    const int x = kNumberColumnX + kNumberColumnStep * pair;
    if (IOn->isChecked()) {
      p.setPen(QColor(kLime));
      DrawTextAt(p, x, kIRowY, QString::number(block[2 * pair]));
    }
    if (QOn->isChecked()) {
      p.setPen(QColor(kYellow));
      DrawTextAt(p, x, kQRowY, QString::number(block[2 * pair + 1]));
    }
  }
}

void TIQ::ShowWaveforms(const int16_t* block, int span) {
  // Samples beyond the span run off the picture; they are not clamped.
  for (int pair = 0; pair < kPairs; ++pair) {
    iPoints_[pair] = QPoint(pair, kMidRow - (block[2 * pair] * kPictureHeight) / span);
    qPoints_[pair] = QPoint(pair, kMidRow - (block[2 * pair + 1] * kPictureHeight) / span);
  }
  QImage& picture = IQWin->Picture();
  QPainter p(&picture);
  p.fillRect(picture.rect(), Qt::black);
  if (IOn->isChecked()) {
    p.setPen(QColor(kLime));
    p.drawPolyline(iPoints_, kPairs);
  }
  if (QOn->isChecked()) {
    p.setPen(QColor(kYellow));
    p.drawPolyline(qPoints_, kPairs);
  }
}
