// Cost of one sample block: the receiver model's synthesis at a busy spot of the band and at a
// quiet one, and the synthesiser alone for a given number of signals in the span.
#include "sim/IqSynthesizer.h"
#include "sim/ReceiverModel.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

class NoLinks : public sim::ModelOutput {
public:
    bool linkOpen(sim::Link) const override { return false; }
    void sendReport(sim::Link, const std::vector<uint8_t>&) override {}
    void sendBlock(const int16_t*) override {}
};

void BM_ModelBlock(benchmark::State& state) {
    NoLinks links;
    sim::ReceiverModel model(links, sim::SignalScene::defaultScene());
    auto frame = sim::buildFrame('F', 8, int32_t(state.range(0)));
    model.command(sim::Link::Usb, sim::parseFrame(frame, true), sim::ReceiverModel::Clock::now());
    std::vector<int16_t> block(sim::IqSynthesizer::kSamples);
    for (auto _ : state) {
        model.synthesizeBlock(block.data());
        benchmark::DoNotOptimize(block.data());
    }
}
BENCHMARK(BM_ModelBlock)->Arg(9650000)->Arg(2100000)->Unit(benchmark::kMicrosecond);

void BM_SynthesizerSignals(benchmark::State& state) {
    sim::SignalScene scene;
    const sim::SignalKind kinds[] = {sim::SignalKind::Am, sim::SignalKind::Fsk, sim::SignalKind::Cw,
                                     sim::SignalKind::Carrier};
    for (int i = 0; i < state.range(0); ++i) {
        sim::Signal s;
        s.frequency = 7000000 - 5000 + i * 10000 / int(state.range(0));
        s.level = 40;
        s.kind = kinds[i % 4];
        scene.add(s);
    }
    sim::IqSynthesizer synth;
    std::vector<int16_t> block(sim::IqSynthesizer::kSamples);
    for (auto _ : state) {
        synth.synthesize(scene, {}, 7000000, 120, block.data());
        benchmark::DoNotOptimize(block.data());
    }
}
BENCHMARK(BM_SynthesizerSignals)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);

} // namespace
