#include "app/dsp/Uvestramdebug.h"

#include <QGuiApplication>
#include <QScreen>

TVestraMdebug* VestraMdebug = nullptr;

TVestraMdebug::TVestraMdebug() : TToolWindow("TVestraMdebug", "Отладка Vestra М", {260, 110}, false) {
  VestraMdebug = this;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->availableGeometry();
    move(r.center() - QPoint(width() / 2, height() / 2));
  }
}
