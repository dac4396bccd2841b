#include "app/memory/ScanButtons.h"

ScanButtons CreateScanButtons(QWidget* parent, QPoint at, const QString& leftHint, const QString& rightHint) {
  constexpr int kGroup = 1, kWidth = 36, kHeight = 30, kGap = 2;
  int x = at.x();
  auto button = [&](const char* name, const QString& face, const QString& hint) {
    auto* b = new TPictureButton(parent, name, face, TPictureButton::Kind::Group, kGroup);
    b->setGeometry(x, at.y(), kWidth, kHeight);
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    x += kWidth + kGap;
    return b;
  };
  ScanButtons b;
  b.left = button("ScanLeft", "◀◀", leftHint);
  b.pause = button("ScanPause", "▮▮", "Пауза");
  b.stop = button("ScanStop", "■", "Стоп");
  b.right = button("ScanRight", "▶▶", rightHint);
  b.pause->SetDown(true);
  return b;
}
