// The network server seen by Hamlib's own client library (NET rigctl, model 2) over the
// loopback, with the program's windows in this process on a receiver on a pseudo-terminal:
//
// 1. round trip: set the frequency, then read it back (rig_set_freq, rig_get_freq), N times;
//    prints the median and the 90th percentile;
// 2. sustained set rate: frequency sets paced at a rate for 10 s each, the rate doubling from
//    100/s, then as fast as the client goes. A 50 ms timer of the window thread (the serial
//    polling period) is watched: first 10 s with no client, for the machine's own noise, then
//    at each rate. The rate counts as sustained while the timer loses no more than 5 % of its
//    ticks beyond what it lost idle (a Qt timer that is late skips, so lost ticks are the time
//    the thread could not keep up). The longest gap is printed too: on a loaded machine it
//    mostly shows the scheduler, idle as much as busy. Prints each rate, what
//    the client reached, the ticks and the longest gap.
//
//   build/bin/bench_rigctl [round trips, default 2000] [seconds per rate, default 10]
//
// The client runs in a thread of its own (its calls block); the server, as in the program,
// in the window thread's event loop.
#include <hamlib/rig.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/panel/Umain.h"
#include "app/remote/RigctlServer.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

using Clock = std::chrono::steady_clock;

RIG* OpenClient(quint16 port) {
  rig_set_debug(RIG_DEBUG_NONE);
  RIG* rig = rig_init(RIG_MODEL_NETRIGCTL);
  const std::string path = "127.0.0.1:" + std::to_string(port);
  rig_set_conf(rig, rig_token_lookup(rig, "rig_pathname"), path.c_str());
  if (rig_open(rig) != RIG_OK) {
    std::fprintf(stderr, "rig_open failed\n");
    rig_cleanup(rig);
    return nullptr;
  }
  return rig;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Runs `work` in a thread while the window thread runs its event loop; returns when it ends.
template <class Work>
void WhileEventLoopRuns(Work work) {
  std::atomic<bool> done{false};
  std::thread client([&] {
    work();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  client.join();
}

// The ticks of a 50 ms timer in the window thread: the longest gap and the count.
struct Ticks {
  QTimer timer;
  QElapsedTimer clock;
  qint64 longestMs = 0;
  int count = 0;
  Ticks() {
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (clock.isValid()) longestMs = std::max(longestMs, clock.restart());
      else clock.start();
      ++count;
    });
  }
  void Start() {
    longestMs = 0;
    count = 0;
    clock.invalidate();
    timer.start();
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  ProgramApplication app(argc, argv);
  const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;

  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  ProgramIni().WriteString("Rigctl", "Enabled", "1");
  ProgramIni().WriteString("Rigctl", "Address", "127.0.0.1:0");
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  if (!Main->Remote) {
    std::fprintf(stderr, "the server did not start\n");
    return 1;
  }
  const quint16 port = Main->Remote->Port();
  // The receiver takes every frame, as a serial receiver would.
  QTimer drain;
  QObject::connect(&drain, &QTimer::timeout, [&] { receiver.Take(); });
  drain.start(20);

  RIG* rig = nullptr;
  WhileEventLoopRuns([&] { rig = OpenClient(port); });
  if (!rig) return 1;

  std::vector<double> us;
  WhileEventLoopRuns([&] {
    for (int i = 0; i < roundTrips; ++i) {
      const freq_t f = 7000000 + 10 * (i % 1000);
      freq_t back = 0;
      const auto t0 = Clock::now();
      rig_set_freq(rig, RIG_VFO_CURR, f);
      rig_get_freq(rig, RIG_VFO_CURR, &back);
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      if (back != f) std::fprintf(stderr, "read back %.0f after setting %.0f\n", back, f);
    }
  });
  std::printf("round trip F then f, %d times: median %.0f us, 90th percentile %.0f us\n", roundTrips,
              Percentile(us, 0.5), Percentile(us, 0.9));

  Ticks ticks;
  const int expectedTicks = seconds * 1000 / 50;
  ticks.Start();
  WhileEventLoopRuns([&] { std::this_thread::sleep_for(std::chrono::seconds(seconds)); });
  ticks.timer.stop();
  const qint64 idleGapMs = ticks.longestMs;
  const int idleTicks = ticks.count;
  std::printf("idle: timer: %d of %d ticks, longest gap %lld ms\n", ticks.count, expectedTicks, (long long)idleGapMs);
  double sustained = 0;
  for (double rate = 100;; rate *= 2) {
    const bool unpaced = rate > 100000;
    long sets = 0;
    ticks.Start();
    WhileEventLoopRuns([&] {
      const auto start = Clock::now();
      const auto end = start + std::chrono::seconds(seconds);
      for (auto next = start; Clock::now() < end;) {
        rig_set_freq(rig, RIG_VFO_CURR, 7000000 + 10 * (sets % 1000));
        ++sets;
        if (!unpaced) {
          next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
          std::this_thread::sleep_until(next);
        }
      }
    });
    ticks.timer.stop();
    const double reached = double(sets) / seconds;
    const bool kept = ticks.count >= idleTicks - expectedTicks / 20;
    std::printf("%s: %.0f sets/s reached, timer: %d of %d ticks, longest gap %lld ms -> %s\n",
                unpaced ? "unpaced" : (std::to_string(int(rate)) + "/s").c_str(), reached, ticks.count,
                expectedTicks, (long long)ticks.longestMs, kept ? "kept" : "FELL BEHIND");
    if (kept) sustained = std::max(sustained, reached);
    if (!kept || unpaced) break;
    if (reached < 0.9 * rate) rate = 1e6;  // the client's limit: one unpaced run and stop
  }
  std::printf("highest sustained rate of frequency sets: %.0f/s\n", sustained);

  rig_close(rig);
  rig_cleanup(rig);
  return 0;
}
