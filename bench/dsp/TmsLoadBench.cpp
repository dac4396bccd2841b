// Loading a 64 KB DSP program (N = 65523: 16383 words, 2048 packets) into vestra-sim over
// USB/IP, through the kernel stand-in, the driver and the USB link, as the loader window does
// it. Prints, per load and as medians: the load time, packets per second, and the longest
// stretch during the load in which the loader window was not repainted.
//
//   build/bin/tms-load-bench [loads]      (default 7; offscreen unless a display is set)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/Startup.h"
#include "app/dsp/Utms.h"
#include "app/panel/Umain.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/win32/IniFile.h"
#include "tests/sim/SimProcess.h"

namespace {

constexpr int kPackets = 2048;

// Time stamps of every paint of the loader window or its controls.
class PaintClock : public QObject {
 public:
  QElapsedTimer clock;
  std::vector<qint64> paints;

  bool eventFilter(QObject* target, QEvent* e) override {
    if (e->type() == QEvent::Paint)
      if (auto* w = qobject_cast<QWidget*>(target); w && w->window() == Tms) paints.push_back(clock.nsecsElapsed());
    return false;
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  do QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  while (t.elapsed() < ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  const int loads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string bin = std::filesystem::canonical("/proc/self/exe").parent_path().string();

  simtest::SimProcess sim({"--no-serial"});
  if (!sim.started()) {
    std::fprintf(stderr, "vestra-sim did not start\n");
    return 1;
  }
  nt::UsbBusConfig bus;
  bus.server = "127.0.0.1:" + std::to_string(sim.port());
  if (!nt::StartKernelStandIn(bus, bin + "/libUSBKRNb.so")) {
    std::fprintf(stderr, "the kernel stand-in did not start\n");
    return 1;
  }
  int status = 0;
  {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    ProgramIni().WriteString("Serial", "Port", "/nonexistent/tty");
    ProgramWindows windows;
    Main->show();
    QElapsedTimer wait;
    wait.start();
    while (Main->LinkKind != 2 && wait.elapsed() < 10000) Pump(10);
    if (Main->LinkKind != 2) {
      std::fprintf(stderr, "the simulator's device did not connect\n");
      status = 1;
    } else {
      QByteArray file(65536, 0);
      QRandomGenerator random(15);
      for (char& b : file) b = char(random.bounded(256));
      file[2] = char(0xF3);  // N = 65523
      file[3] = char(0xFF);
      const QString path = QDir(config.path()).filePath("program.bin");
      QFile f(path);
      f.open(QIODevice::WriteOnly);
      f.write(file);
      f.close();
      Tms->show();
      Tms->Filename->SetText(path);
      Pump(200);

      PaintClock paints;
      app.installEventFilter(&paints);
      std::vector<double> seconds, rates, gaps;
      for (int i = 0; i < loads; ++i) {
        paints.paints.clear();
        paints.clock.start();
        Tms->LoadClick();
        const qint64 end = paints.clock.nsecsElapsed();
        qint64 previous = 0, longest = 0;
        for (qint64 t : paints.paints) longest = std::max(longest, t - std::exchange(previous, t));
        longest = std::max(longest, end - previous);
        seconds.push_back(double(end) / 1e9);
        rates.push_back(kPackets / seconds.back());
        gaps.push_back(double(longest) / 1e6);
        std::printf("load %d: %.3f s, %.0f packets/s, %zu repaints, longest without repaint %.2f ms\n", i + 1,
                    seconds.back(), rates.back(), paints.paints.size(), gaps.back());
        Pump(300);  // the link's queued messages, as the window would after a load
      }
      app.removeEventFilter(&paints);
      std::printf("median of %d loads: %.3f s per 64 KB program, %.0f packets/s, %.1f KB/s; "
                  "longest stretch without repaint %.2f ms\n",
                  loads, Median(seconds), Median(rates), 64.0 / Median(seconds), Median(gaps));
    }
    Main->close();
  }
  nt::StopKernelStandIn();
  return status;
}
