// Time from process start to the main window's first paint, as the operator sees it: the
// program's windows are created as at start-up and the main window is shown. Prints the
// milliseconds on standard output. Run it through bench/startup/measure.sh for medians.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/Startup.h"
#include "app/panel/Umain.h"

namespace {

// Milliseconds since this process started, from /proc (clock ticks since boot).
double MillisecondsSinceProcessStart() {
  QFile stat("/proc/self/stat");
  QFile uptime("/proc/uptime");
  if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly)) return -1;
  const QByteArray s = stat.readAll();
  const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
  const double startTicks = fields.value(19).toDouble();  // field 22 of the whole line
  const double now = uptime.readAll().split(' ').value(0).toDouble();
  return (now - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

class FirstPaintWatch : public QObject {
 public:
  bool eventFilter(QObject* target, QEvent* e) override {
    if (target == Main && e->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      std::printf("%.1f\n", MillisecondsSinceProcessStart());
      std::fflush(stdout);
      QTimer::singleShot(0, [] { Main->close(); });
    }
    return false;
  }

 private:
  bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  FirstPaintWatch watch;
  app.installEventFilter(&watch);
  ProgramWindows windows;
  Main->show();
  return app.exec();
}
