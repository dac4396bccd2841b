// The memory window with 10, 100 and 1000 channels in its file: building the list
// (LoadChannelList), saving one channel (StoreChannel: the file written once, then the list),
// one scan step (a recall), and, as the yardstick, writing the same file once without any of
// the window's work. The files live in a folder under the current one (a real disk: the
// writes are flushed).
//   cd build && bin/bench_channels --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/memory/Uchan.h"
#include "app/memory/UchanFile.h"
#include "app/panel/Umain.h"
#include "platform/win32/Cp1251.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"

namespace {

struct Program {
  QTemporaryDir config{QDir::currentPath() + "/chan-bench-config-XXXXXX"};
  testsupport::ProgramRun run{config.path(), "/nonexistent/tty"};
};
Program* program = nullptr;

// A channel file of `count` channels of every mode, opened in the memory window.
class ChannelFile {
 public:
  explicit ChannelFile(int count) {
    path_ = dir_.path() + "/Channels.ini";
    {
      win32::IniFile file(path_);
      win32::IniFile::Batch batch(file);
      for (int n = 1; n <= count; ++n) {
        chanfile::StoredChannel c;
        c.name = "Канал №" + QString::number(n);
        c.freq = 1000000 + n * 1000;
        c.polosa = 3000;
        c.mode = n % 2 ? chanfile::kTLG : QStringLiteral("F7B");
        c.ton = 1000;
        if (n % 2 == 0) c.vt = 100, c.dF = 500, c.kanTlg = 1;
        chanfile::Write(file, n, c);
      }
      chanfile::WriteTotal(file, count);
    }
    Chan->OpenChannelFile(path_);
  }
  QByteArray Bytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  const QString& Path() const { return path_; }

 private:
  QTemporaryDir dir_{QDir::currentPath() + "/chan-bench-XXXXXX"};
  QString path_;
};

void LoadChannelList(benchmark::State& state) {
  ChannelFile file(int(state.range(0)));
  Chan->ChanList->SetItemIndex(0);
  for (auto _ : state) Chan->LoadChannelList();
  state.counters["lines"] = Chan->ChanList->count();
}

void StoreChannel(benchmark::State& state) {
  ChannelFile file(int(state.range(0)));
  const int middle = int(state.range(0)) / 2 + 1;
  for (auto _ : state) Chan->StoreChannel(middle);
  state.counters["bytes"] = double(file.Bytes().size());
}

void WriteFileOnce(benchmark::State& state) {
  ChannelFile file(int(state.range(0)));
  const QByteArray bytes = file.Bytes();
  for (auto _ : state) benchmark::DoNotOptimize(win32::WriteFileAtomically(file.Path(), bytes));
  state.counters["bytes"] = double(bytes.size());
}

void ScanStep(benchmark::State& state) {
  ChannelFile file(int(state.range(0)));
  Chan->ScanDirection = 1;
  Spectrum.PeakLevel = -100;
  Chan->Porog->SetValue(70);
  for (auto _ : state) Chan->ScanTimerTimer();
}

BENCHMARK(LoadChannelList)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(StoreChannel)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteFileOnce)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanStep)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  program = new Program;
  benchmark::RunSpecifiedBenchmarks();
  delete program;
  benchmark::Shutdown();
  return 0;
}
