// Runs one panorama sweep against vestra-sim and prints the period of its ticks (median and
// spread) and the longest time the window thread spent on one event during the sweep, with
// what that event was.
//
//   build/bin/bench_sweep_timing usb|serial [points: 100, 200 or 400]
//
// The program's windows live in this process as at start-up (offscreen unless a display is
// set); the simulator is started from the folder of this executable.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "platform/nt/KernelStandIn.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/ProgramRun.h"

namespace {

// Times every event handled at the outermost level: the stretches the window thread is busy.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* e) override {
    if (depth_++ == 0) {
      clock_.start();
      cpuStart_ = ThreadCpuNs();
    }
    const bool result = QApplication::notify(receiver, e);
    if (--depth_ == 0 && measuring) {
      const qint64 ns = clock_.nsecsElapsed();
      const qint64 cpu = ThreadCpuNs() - cpuStart_;
      longestCpuNs = std::max(longestCpuNs, cpu);
      if (ns > longestNs) {
        longestNs = ns;
        longestOwnCpuNs = cpu;
        longestWhat = std::string(receiver->metaObject()->className()) + " " +
                      receiver->objectName().toStdString() + ", event " + std::to_string(int(e->type()));
      }
    }
    return result;
  }
  bool measuring = false;
  qint64 longestNs = 0;        // wall clock: also time spent waiting or descheduled
  qint64 longestOwnCpuNs = 0;  // the window thread's own processor time in that stretch
  qint64 longestCpuNs = 0;     // the most processor time one event took
  std::string longestWhat;

 private:
  static qint64 ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
  int depth_ = 0;
  QElapsedTimer clock_;
  qint64 cpuStart_ = 0;
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[size_t(p * double(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TimedApplication app(argc, argv);
  const bool usb = argc < 2 || std::strcmp(argv[1], "serial") != 0;
  const int points = argc > 2 ? std::atoi(argv[2]) : 400;
  if (points != 100 && points != 200 && points != 400) {
    std::fprintf(stderr, "точек: 100, 200 или 400\n");
    return 2;
  }
  const std::string bin = QCoreApplication::applicationDirPath().toStdString();
  if (qEnvironmentVariableIsEmpty("PVESTRA_BIN")) qputenv("PVESTRA_BIN", bin.c_str());

  simtest::SimProcess sim({usb ? "--no-serial" : "--no-usb"});
  if (!sim.started()) {
    std::fprintf(stderr, "vestra-sim did not start\n");
    return 1;
  }
  if (usb) {
    nt::UsbBusConfig bus;
    bus.server = "127.0.0.1:" + std::to_string(sim.port());
    if (!nt::StartKernelStandIn(bus, bin + "/libUSBKRNb.so")) return 1;
  }
  int status = 0;
  {
    QTemporaryDir config;
    testsupport::ProgramRun run(config.path(), usb ? "/nonexistent/tty" : sim.serialLink());
    // Over USB: until the device is up; over the serial line: until the upload has been asked for and sent.
    if (usb) testsupport::PumpUntil([] { return Main->LinkKind == 2; }, 10000);
    else testsupport::Pump(1500);
    Main->TuneTo(7050000);
    testsupport::Pump(300);

    std::vector<qint64> ticks;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(Panorama->PanTimer, &QTimer::timeout, [&] { ticks.push_back(clock.nsecsElapsed()); });
    Panorama->show();
    Panorama->NumFreqs->SetItemIndex(points == 100 ? 0 : points == 200 ? 1 : 2);
    app.measuring = true;
    QTimer::singleShot(0, [] { Panorama->Start->PerformClick(); });
    testsupport::Pump(10);
    testsupport::PumpUntil([] { return Panorama->PanIndex >= kPanColumns && Panorama->Start->isEnabled(); }, 120000);
    app.measuring = false;

    std::vector<double> periods;
    for (size_t i = 1; i < ticks.size(); ++i) periods.push_back(double(ticks[i] - ticks[i - 1]) / 1e6);
    std::printf("link %s, %d points, %zu ticks, sweep %.2f s\n", usb ? "usb" : "serial", points, ticks.size(),
                ticks.size() > 1 ? double(ticks.back() - ticks.front()) / 1e9 : 0.0);
    std::printf("tick period ms: median %.2f, p5 %.2f, p95 %.2f, min %.2f, max %.2f\n", Percentile(periods, 0.5),
                Percentile(periods, 0.05), Percentile(periods, 0.95), Percentile(periods, 0),
                Percentile(periods, 1));
    std::printf("longest busy stretch of the window thread: %.2f ms (%s; %.2f ms of it on the processor)\n",
                double(app.longestNs) / 1e6, app.longestWhat.c_str(), double(app.longestOwnCpuNs) / 1e6);
    std::printf("most processor time in one event: %.2f ms\n", double(app.longestCpuNs) / 1e6);
    std::printf("returned to %d Hz\n", Main->TunedFrequency());
    if (int(ticks.size()) != points) status = 1;
  }
  if (usb) nt::StopKernelStandIn();
  return status;
}
