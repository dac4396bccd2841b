// Per-block costs of the spectrum display; a block arrives about eleven times a second.
//   build/bin/bench_spectrum --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Uspectr.h"
#include "fft/Fft.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

// A strong carrier, a weak one and a little noise, as a receiver delivers them.
std::vector<int16_t> SampleBlock(int blockNumber) {
  std::vector<int16_t> block(kSampleBlockSamples);
  unsigned noise = 12345;
  for (int p = 0; p < kSampleBlockSamples / 2; ++p) {
    const double t = (blockNumber * 1024 + p) / 11070.0;
    noise = noise * 1103515245 + 12345;
    const int jitter = int((noise >> 16) % 7) - 3;
    const double a = 2 * std::numbers::pi * 2000 * t, b = -2 * std::numbers::pi * 3300 * t;
    block[2 * p] = int16_t(std::lround(3000 * std::cos(a) + 30 * std::cos(b)) + jitter);
    block[2 * p + 1] = int16_t(std::lround(3000 * std::sin(a) + 30 * std::sin(b)) - jitter);
  }
  return block;
}

struct Pictures {
  QImage spectrData{562, 20, QImage::Format_RGB32}, lScale{25, 240, QImage::Format_RGB32},
      spectr{512, 240, QImage::Format_RGB32}, rScale{25, 240, QImage::Format_RGB32},
      fScale{562, 20, QImage::Format_RGB32};
  SpectrumPictures pictures{&spectrData, &lScale, &spectr, &rScale, &fScale};
};

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

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
