#include "sim/IqSynthesizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

using namespace sim;

namespace {

// A plain 512-point DFT in centred order over the newest 512 pairs of a block, divided by
// the point count as the PC's transform is: X[k] = Σ x[n] e^{-j2π(k-256)n/512} / 512, x = I + jQ.
std::vector<double> centredMagnitudes(const std::vector<int16_t>& block) {
    std::vector<double> mag(512);
    const int16_t* pairs = block.data() + 2 * 512;
    for (int k = 0; k < 512; ++k) {
        std::complex<double> sum;
        for (int n = 0; n < 512; ++n) {
            std::complex<double> x(pairs[2 * n], pairs[2 * n + 1]);
            double a = -2.0 * std::numbers::pi * (k - 256) * n / 512.0;
            sum += x * std::complex<double>(std::cos(a), std::sin(a));
        }
        mag[size_t(k)] = std::abs(sum) / 512.0;
    }
    return mag;
}

int peakBin(const std::vector<double>& mag) {
    return int(std::max_element(mag.begin(), mag.end()) - mag.begin());
}

} // namespace

TEST(IqSynthesizer, CarrierAboveTheTunedFrequencyLandsAboveTheCentre) {
    const int32_t tuned = 7000000;
    for (int32_t offset : {2000, -2000, 0, 4500}) {
        SignalScene scene;
        Signal s;
        s.frequency = tuned + offset;
        s.level = 40;
        scene.add(s);
        IqSynthesizer synth;
        std::vector<int16_t> block(IqSynthesizer::kSamples);
        synth.synthesize(scene, {}, tuned, 120, block.data());
        double expected = 256 + offset * 512.0 / IqSynthesizer::kSampleRate;
        EXPECT_NEAR(peakBin(centredMagnitudes(block)), expected, 1.0) << "offset " << offset;
    }
}

TEST(IqSynthesizer, MagnitudeFollowsLevelAndGain) {
    // The transform shows a tone of level L at gain G with magnitude 10^((L + G - 87.5) / 20).
    const int32_t tuned = 10000000;
    const int32_t offset = 11070 * 100 / 512; // on bin 356 exactly
    for (auto [level, gain] : {std::pair{40.0, 120.0}, {20.0, 150.0}, {60.0, 90.0}}) {
        SignalScene scene;
        Signal s;
        s.frequency = tuned + offset;
        s.level = level;
        scene.add(s);
        IqSynthesizer synth;
        std::vector<int16_t> block(IqSynthesizer::kSamples);
        synth.synthesize(scene, {}, tuned, gain, block.data());
        auto mag = centredMagnitudes(block);
        double shown = 20 * std::log10(mag[356]);
        EXPECT_NEAR(shown, level + gain - 87.5, 1.5) << level << " at " << gain;
    }
}

TEST(IqSynthesizer, PhaseRunsOnAcrossBlocks) {
    // Two consecutive blocks of one carrier join without a jump: the first sample of the second
    // block continues the rotation of the first.
    SignalScene scene;
    Signal s;
    s.frequency = 1001000;
    s.level = 70;
    scene.add(s);
    IqSynthesizer synth;
    std::vector<int16_t> a(IqSynthesizer::kSamples), b(IqSynthesizer::kSamples);
    synth.synthesize(scene, {}, 1000000, 80, a.data());
    synth.synthesize(scene, {}, 1000000, 80, b.data());
    std::complex<double> lastA(a[2046], a[2047]), firstB(b[0], b[1]);
    double step = std::arg(firstB / lastA);
    double expected = 2 * std::numbers::pi * 1000 / IqSynthesizer::kSampleRate;
    EXPECT_NEAR(step, expected, 0.02);
}

TEST(IqSynthesizer, SignalsOutsideTheSpanAreLeftOut) {
    SignalScene scene;
    Signal s;
    s.frequency = 7010000; // 10 kHz above: outside the ±5.5 kHz span
    s.level = 90;
    scene.add(s);
    IqSynthesizer synth;
    std::vector<int16_t> block(IqSynthesizer::kSamples);
    synth.synthesize(scene, {}, 7000000, 60, block.data());  // inside, it would reach 1333
    int16_t peak = 0;
    for (int16_t v : block) peak = std::max<int16_t>(peak, int16_t(std::abs(v)));
    EXPECT_LT(peak, 200) << "only noise";
}

TEST(IqSynthesizer, StrongSignalsClipInsteadOfWrapping) {
    SignalScene scene;
    Signal s;
    s.frequency = 7000000;
    s.level = 100;
    scene.add(s);
    IqSynthesizer synth;
    std::vector<int16_t> block(IqSynthesizer::kSamples);
    synth.synthesize(scene, {}, 7000000, 150, block.data()); // far beyond full scale
    EXPECT_EQ(block[0], 32767) << "a carrier at zero offset starts at I = +full scale";
}
