// One decoded character appended to the message window's pane: to an empty pane and to one
// that already holds a million characters in a single line (hexadecimal pairs run on without
// a line break, the worst case for wrapping). The two should cost the same.
//   build/bin/bench_decoder_pane --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// (on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise)
#include <benchmark/benchmark.h>

#include <QApplication>

#include "app/dsp/UdecoderPane.h"

namespace {

constexpr int kFull = 1'000'000;

// state.range(0): characters already in the pane; state.range(1): 1 = paint after each one.
void AppendOneCharacter(benchmark::State& state) {
  TMessagePane pane(nullptr);
  pane.resize(480, 300);
  pane.show();
  const QString pair = QStringLiteral("4F ");
  QString bulk;
  bulk.reserve(kFull);
  while (bulk.size() < state.range(0)) bulk += pair;
  bulk.truncate(state.range(0));
  pane.Append(bulk);
  QCoreApplication::processEvents();
  const bool paint = state.range(1) != 0;
  int i = 0;
  for (auto _ : state) {
    pane.Append(QString(pair[i++ % 3]));
    if (paint) pane.viewport()->repaint();
  }
  state.counters["chars"] = double(pane.CharacterCount());
}

BENCHMARK(AppendOneCharacter)->Args({0, 0})->Args({kFull, 0})->Iterations(20000);
// With painting, the cost follows the text on screen: a pane of a few screenfuls is the fair
// comparison for the full one, the empty pane starts with nothing to draw.
BENCHMARK(AppendOneCharacter)->Args({0, 1})->Args({5000, 1})->Args({kFull, 1})->Iterations(2000);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
