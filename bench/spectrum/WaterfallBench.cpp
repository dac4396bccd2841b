// Per-block cost of the waterfall: the row alone, the spectrum path (AddSampleBlock with its
// drawing) with and without a shown waterfall window, and the repaint of the window's
// picture that the event loop does after each block.
//   nice -n 15 build/bin/bench_waterfall --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// BM_SpectrumPathAddedByWaterfall runs both paths in turn, block by block, so that both
// see the same load on the machine: its counters give the two medians' ratio and the time
// the waterfall adds per block. On a loaded machine read the CPU column of the others.
#include "app/spectrum/Uspectr.h"
#include "app/spectrum/Uwaterfall.h"
#include "app/spectrum/UwaterfallRows.h"
#include "bench/spectrum/SpectrumBenchSupport.h"
#include "fft/Fft.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

namespace {

std::vector<std::vector<int16_t>> Blocks() {
  std::vector<std::vector<int16_t>> blocks;
  for (int b = 0; b < 8; ++b) blocks.push_back(SampleBlock(b));
  return blocks;
}

// The window as the program has it, shown at its default size.
TWaterfall& ShownWaterfall() {
  static QTemporaryDir config;  // its settings are read from here, not from the user's
  static TWaterfall* w = [] {
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    auto* window = new TWaterfall;
    window->show();
    QApplication::processEvents();
    return window;
  }();
  return *w;
}

// One row from the magnitudes of a block: colours for 512 bins into the ring.
void BM_WaterfallRow(benchmark::State& bench) {
  WaterfallRows rows(420);
  std::vector<double> magnitudes(kSpectrumBins);
  for (int k = 0; k < kSpectrumBins; ++k) magnitudes[size_t(k)] = 0.02 * (1 + k % 97) * (k == 300 ? 5000 : 1);
  const WaterfallTuning tuning{8000000, 1, bench.range(0) == 0};
  int64_t t = 0;
  for (auto _ : bench) {
    rows.AddRow(magnitudes.data(), tuning, t += 92);
    benchmark::DoNotOptimize(rows.Pixels(0)[300]);
  }
}
BENCHMARK(BM_WaterfallRow)->ArgName("linear")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// AddSampleBlock with its drawing, as the main window calls it for each block, with the
// waterfall window hidden (no row) or shown (the window takes the row).
void BM_SpectrumPath(benchmark::State& bench) {
  auto state = std::make_unique<SpectrumState>();
  state->FftEntry = &fft;
  Pictures pictures;
  SpectrumControls controls;
  controls.linkKind = 2;
  if (bench.range(0) != 0) controls.rowSink = &ShownWaterfall();
  const auto blocks = Blocks();
  int next = 0;
  for (auto _ : bench) {
    AddSampleBlock(*state, blocks[size_t(next)].data(), controls, pictures.pictures);
    next = (next + 1) % 8;
    benchmark::DoNotOptimize(state->PeakLevel);
  }
}
BENCHMARK(BM_SpectrumPath)->ArgName("waterfallShown")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// CPU time of the calling thread, in microseconds: on a machine shared with other work it
// does not count the time the thread waited for a processor.
double ThreadCpuMicroseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// Both paths block by block in turn; counters: median CPU time of each, their ratio and the
// difference, per block.
void BM_SpectrumPathAddedByWaterfall(benchmark::State& bench) {
  auto state = std::make_unique<SpectrumState>();
  state->FftEntry = &fft;
  Pictures pictures;
  SpectrumControls hidden, shown;
  hidden.linkKind = shown.linkKind = 2;
  shown.rowSink = &ShownWaterfall();
  const auto blocks = Blocks();
  std::vector<double> without, with;
  int next = 0;
  for (auto _ : bench) {
    for (const SpectrumControls* c : {&hidden, &shown}) {
      const double start = ThreadCpuMicroseconds();
      AddSampleBlock(*state, blocks[size_t(next)].data(), *c, pictures.pictures);
      const double us = ThreadCpuMicroseconds() - start;
      (c == &hidden ? without : with).push_back(us);
      next = (next + 1) % 8;
    }
  }
  auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const double a = median(without), b = median(with);
  bench.counters["hidden_us"] = a;
  bench.counters["shown_us"] = b;
  bench.counters["ratio"] = b / a;
  bench.counters["added_us"] = b - a;
}
BENCHMARK(BM_SpectrumPathAddedByWaterfall)->Unit(benchmark::kMicrosecond);

// The repaint after a block: the picture (ring stretched to the window) and the time scale.
void BM_WaterfallRepaint(benchmark::State& bench) {
  TWaterfall& w = ShownWaterfall();
  w.resize(int(bench.range(0)), 420);
  QApplication::processEvents();
  std::vector<double> magnitudes(kSpectrumBins, 1.0);
  SpectrumControls controls;
  for (int i = 0; i < w.Rows.Capacity(); ++i) w.AddSpectrumRow(magnitudes.data(), controls, 0);
  QImage target(w.size(), QImage::Format_RGB32);
  for (auto _ : bench) {
    w.AddSpectrumRow(magnitudes.data(), controls, 0);
    w.WfPicture->render(&target, w.WfPicture->pos(), QRegion(), QWidget::RenderFlags());
    w.TScale->render(&target, w.TScale->pos(), QRegion(), QWidget::RenderFlags());
  }
  bench.counters["picture_width"] = w.WfPicture->width();
}
BENCHMARK(BM_WaterfallRepaint)->ArgName("windowWidth")->Arg(580)->Arg(1100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithQt(argc, argv); }
