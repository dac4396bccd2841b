// Synthesises the receiver's IQ stream: the 11070 Hz span around the tuned frequency, as
// 1024 pairs of signed 16-bit samples per block (I then Q).
//
// Mixing convention: a signal Δf above the tuned frequency gives I = cos(2π·Δf·t) and
// Q = sin(2π·Δf·t), so in the transform of x = I + jQ it lies above the centre bin.
//
// Scale: the samples carry the receiver's gain G (dB), so that a tone of antenna level L dB
// has amplitude 10^((L + G − 87.5) / 20); the PC's 512-point transform, divided by the point
// count, shows it with that magnitude, which the PC's level scale turns back into L.
//
// Cost: every signal in the span is a complex rotator updated by one multiplication per
// sample (renormalised once per block); keying and modulation use counters and a second
// rotator; noise comes from a small integer generator. No libm call per sample.
#pragma once

#include "sim/SignalScene.h"

#include <complex>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace sim {

class IqSynthesizer {
public:
    static constexpr int kPairs = 1024;
    static constexpr int kSamples = 2 * kPairs;
    static constexpr double kSampleRate = 11070.0;

    explicit IqSynthesizer(uint32_t seed = 1);

    // Amplitude in sample units of a tone of antenna level `levelDb` at gain `gainDb`.
    static double amplitudeFor(double levelDb, double gainDb);

    // Writes the next block (kSamples values, I and Q interleaved) for the signals of `scene`
    // plus `extra` (signals that exist only inside the receiver, such as its test generator),
    // tuned to `tuned` Hz, at gain `gainDb`. Signal phases and keying run on from block to
    // block, also across retuning.
    void synthesize(const SignalScene& scene, const std::vector<Signal>& extra, int32_t tuned,
                    double gainDb, int16_t* out);

private:
    struct Oscillator {
        std::complex<double> phase{1.0, 0.0};   // e^{j2πΔf t}
        std::complex<double> mod{1.0, 0.0};     // AM: audio tone
        std::vector<uint8_t> pattern;           // keyed: mark (1) / space (0) per half bit
        size_t patternPos = 0;
        double halfBitLeft = 0;                 // samples left in the current half bit
        double envelope = 0;                    // keyed carrier: smoothed on/off
        bool seen = false;                      // still in the scene (for pruning)
    };

    void addSignal(const Signal& s, int32_t tuned, double gainDb, std::complex<double>* acc);
    static std::vector<uint8_t> keyingPattern(const Signal& s);

    std::unordered_map<uint32_t, Oscillator> osc_;
    std::vector<std::complex<double>> acc_;
    uint32_t noiseState_;
};

} // namespace sim
