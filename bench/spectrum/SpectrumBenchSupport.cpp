#include "bench/spectrum/SpectrumBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cmath>
#include <numbers>

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

int RunBenchmarksWithQt(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
