#include "tests/support/ProgramRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWheelEvent>
#include <QWidget>

#include "app/Startup.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"

namespace testsupport {

ProgramRun::ProgramRun(const QString& configDir, const std::string& serialPath) {
  // Each run is a new start of the program: its settings come from this folder's file.
  qputenv("XDG_CONFIG_HOME", configDir.toLocal8Bit());
  CloseProgramIni();
  ProgramIni().WriteString("Serial", "Port", QString::fromStdString(serialPath));
  windows_ = std::make_unique<ProgramWindows>();
  Main->show();
  Pump();
}

ProgramRun::~ProgramRun() { Close(); }

void ProgramRun::Close() {
  if (!windows_) return;
  Main->close();
  windows_.reset();
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (t.elapsed() < ms);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) Pump(5);
  return done();
}

void Wheel(QWidget* over, int delta, int sideways, std::optional<QPoint> at) {
  const QPoint local = at.value_or(over->rect().center());
  QWheelEvent e(local, over->mapToGlobal(local), {}, {sideways, delta}, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(over, &e);
}

}  // namespace testsupport
