// Per-block costs of the spectrum display; a block arrives about eleven times a second.
//   build/bin/bench_spectrum --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Uspectr.h"
#include "bench/spectrum/SpectrumBenchSupport.h"
#include "fft/Fft.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>

#include <memory>
#include <vector>

namespace {

// AddSampleBlock with its drawing, as the main window calls it for each block. With
// "gainChanging" every block brings a new reported gain, so the level labels are redrawn
// each time (automatic gain control at work); otherwise only the trace and readouts change.
void BM_AddSampleBlockAndRender(benchmark::State& bench) {
  auto state = std::make_unique<SpectrumState>();
  state->FftEntry = &fft;
  Pictures pictures;
  SpectrumControls controls;
  controls.mashtabIndex = int(bench.range(0));
  controls.avrDown = bench.range(1) != 0;
  controls.linkKind = 2;
  const bool gainChanging = bench.range(2) != 0;
  std::vector<std::vector<int16_t>> blocks;
  for (int b = 0; b < 8; ++b) blocks.push_back(SampleBlock(b));
  int next = 0;
  for (auto _ : bench) {
    if (gainChanging) state->ReportedGain.store(20 + next, std::memory_order_release);
    AddSampleBlock(*state, blocks[next].data(), controls, pictures.pictures);
    next = (next + 1) % 8;
    benchmark::DoNotOptimize(state->PeakLevel);
  }
}
BENCHMARK(BM_AddSampleBlockAndRender)
    ->ArgNames({"linear", "averaging", "gainChanging"})
    ->Args({0, 0, 0})->Args({0, 1, 0})->Args({1, 1, 0})->Args({0, 1, 1})
    ->Unit(benchmark::kMicrosecond);

// The processing steps alone, without any drawing.
void BM_ProcessSampleBlock(benchmark::State& bench) {
  auto state = std::make_unique<SpectrumState>();
  state->FftEntry = &fft;
  SpectrumControls controls;
  controls.avrDown = true;
  const std::vector<int16_t> block = SampleBlock(0);
  for (auto _ : bench) {
    ProcessSampleBlock(*state, block.data(), controls);
    benchmark::DoNotOptimize(state->Magnitude[256]);
  }
}
BENCHMARK(BM_ProcessSampleBlock)->Unit(benchmark::kMicrosecond);

// One call of the library's entry point.
void BM_FftCall(benchmark::State& bench) {
  float q[512], i[512], out1[512], out2[512];
  const std::vector<int16_t> block = SampleBlock(0);
  for (int t = 0; t < 512; ++t) {
    i[t] = block[2 * t];
    q[t] = block[2 * t + 1];
  }
  for (auto _ : bench) {
    fft(q, i, 512, out1, out2);
    benchmark::DoNotOptimize(out1[256]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FftCall)->Unit(benchmark::kMicrosecond);

// The IQ window's drawing of one block, waveforms and numbers.
void BM_ShowIqBlock(benchmark::State& bench) {
  TIQ iq;
  iq.VScale->setCurrentIndex(int(bench.range(0)));
  const std::vector<int16_t> block = SampleBlock(0);
  for (auto _ : bench) iq.ShowIqBlock(block.data());
}
BENCHMARK(BM_ShowIqBlock)->ArgName("scaleIndex")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithQt(argc, argv); }
