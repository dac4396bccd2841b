#include "knob/MirtalPictures.h"

#include <QPainter>
#include <QRegion>
#include <string>

#include "knob/MirtalIds.h"
#include "platform/ole/PlatformUi.h"

namespace mirtal {
namespace {

// The Windows 95/98 pictures sit on grey 192,192,192, the later family's on 212,210,204.
// The desktops this runs on draw their button faces much like the later family.
constexpr bool kOlderWindowsFamily = false;

void CopyPlain(QPainter& p, QPoint at, const QImage& picture) {
  if (!picture.isNull()) p.drawImage(at, picture);
}

}  // namespace

QImage MirtalPictures::LoadPicture(const char* resource, const char* failureText) {
  QImage picture(QString::fromLatin1(kPicturePrefix) + QString::fromLatin1(resource) + ".png");
  if (picture.isNull()) ole::MessageBox(failureText);
  return picture.convertToFormat(QImage::Format_RGB32);
}

void MirtalPictures::Load() {
  if (kOlderWindowsFamily) {
    back_ = LoadPicture("201", "Ошибка при загрузке bitmap BACK");
    back2_ = LoadPicture("203", "Ошибка при загрузке bitmap BACK2");
  } else {
    back_ = LoadPicture("209", "Ошибка при загрузке bitmap BACK for W2000");
    back2_ = LoadPicture("213", "Ошибка при загрузке bitmap BACK2");
  }
  piptik_ = LoadPicture("202", "Ошибка при загрузке bitmap PIPTIK");
  piptik2_ = LoadPicture("204", "Ошибка при загрузке bitmap PIPTIK2");
  if constexpr (kVariantG) {
    back2_ = LoadPicture("215", "Ошибка при загрузке bitmap BACK2");
    green_ = LoadPicture("214", "Ошибка при загрузке bitmap GREEN");
  }
  // Without BACK the composition keeps the size the knob has on screen.
  const QSize size = back_.isNull() ? QSize(65, 65) : back_.size();
  composition_ = QImage(size, QImage::Format_RGB32);
  composition_.fill(QColor(212, 210, 204));
  copySize_ = size;
  loaded_ = true;
}

void MirtalPictures::Compose(Face face, std::int32_t position) {
  if (face == Face::None || composition_.isNull()) return;
  QPainter p(&composition_);
  p.setCompositionMode(QPainter::CompositionMode_Source);  // plain source copies
  const QPoint marker = MarkerCorner(face, position);
  if (face == Face::Small) {
    CopyPlain(p, {0, 0}, back2_);
    CopyPlain(p, marker, piptik2_);
    copySize_ = back2_.isNull() ? composition_.size() : back2_.size();
  } else {
    CopyPlain(p, {0, 0}, kVariantG ? green_ : back_);
    CopyPlain(p, marker, piptik_);
    copySize_ = composition_.size();
  }
}

void MirtalPictures::CopyTo(QPainter& target, const QRect& area, const QColor& background) const {
  const QRect copied(QPoint(0, 0), composition_.isNull() ? QSize() : copySize_);
  // Only what the knob does not cover is filled, so no pixel is drawn twice.
  for (const QRect& r : QRegion(area).subtracted(QRegion(copied))) target.fillRect(r, background);
  if (composition_.isNull()) return;
  target.setCompositionMode(QPainter::CompositionMode_Source);
  target.drawImage(QPoint(0, 0), composition_, copied);
}

}  // namespace mirtal
