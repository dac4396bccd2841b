#include "sim/IqSynthesizer.h"

#include "sim/TelegraphCodes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

constexpr double kAmDepth = 0.5;
constexpr double kAdcNoise = 1.0;        // receiver's own noise, in sample units (RMS per component)
constexpr double kKeyingSmoothing = 0.02; // per-sample step of the keyed envelope (a few ms)
constexpr size_t kIdleHalfBits = 24;     // mark between repetitions of a message

std::complex<double> rotator(double hz) {
    double w = 2.0 * std::numbers::pi * hz / IqSynthesizer::kSampleRate;
    return {std::cos(w), std::sin(w)};
}

} // namespace

IqSynthesizer::IqSynthesizer(uint32_t seed) : acc_(kPairs), noiseState_(seed ? seed : 1) {}

double IqSynthesizer::amplitudeFor(double levelDb, double gainDb) {
    return std::pow(10.0, (levelDb + gainDb - 87.5) / 20.0);
}

std::vector<uint8_t> IqSynthesizer::keyingPattern(const Signal& s) {
    // Start-stop characters of МТК-2: start bit (space), five data bits first bit first,
    // one and a half stop bits (mark); in half-bit units.
    std::vector<uint8_t> p;
    for (uint8_t code : encodeMtk2(s.message)) {
        p.insert(p.end(), 2, 0);
        for (int bit = 0; bit < 5; ++bit) p.insert(p.end(), 2, uint8_t((code >> bit) & 1));
        p.insert(p.end(), 3, 1);
    }
    p.insert(p.end(), kIdleHalfBits, 1);
    return p;
}

void IqSynthesizer::addSignal(const Signal& s, int32_t tuned, double gainDb, std::complex<double>* acc) {
    double offset = double(s.frequency) - tuned;
    Oscillator& o = osc_[s.id];
    o.seen = true;
    if (s.keyed() && o.pattern.empty()) o.pattern = keyingPattern(s);
    const double a = amplitudeFor(s.level, gainDb);
    const double samplesPerHalfBit = kSampleRate / (2.0 * std::max(s.baud, 1));

    switch (s.kind) {
    case SignalKind::Carrier: {
        const auto w = rotator(offset);
        for (int n = 0; n < kPairs; ++n) {
            acc[n] += a * o.phase;
            o.phase *= w;
        }
        break;
    }
    case SignalKind::Am: {
        const auto w = rotator(offset);
        const auto wm = rotator(s.audio);
        for (int n = 0; n < kPairs; ++n) {
            acc[n] += (a * (1.0 + kAmDepth * o.mod.real())) * o.phase;
            o.phase *= w;
            o.mod *= wm;
        }
        o.mod /= std::abs(o.mod);
        break;
    }
    case SignalKind::Cw:
    case SignalKind::Fsk: {
        const bool fsk = s.kind == SignalKind::Fsk;
        const auto wMark = rotator(fsk ? offset + s.shift / 2.0 : offset);
        const auto wSpace = rotator(offset - s.shift / 2.0);
        for (int n = 0; n < kPairs; ++n) {
            if (o.halfBitLeft <= 0) {
                o.halfBitLeft += samplesPerHalfBit;
                o.patternPos = (o.patternPos + 1) % o.pattern.size();
            }
            o.halfBitLeft -= 1.0;
            const bool mark = o.pattern[o.patternPos] != 0;
            if (fsk) {
                acc[n] += a * o.phase;
                o.phase *= mark ? wMark : wSpace;
            } else {
                o.envelope += ((mark ? 1.0 : 0.0) - o.envelope) * kKeyingSmoothing;
                acc[n] += (a * o.envelope) * o.phase;
                o.phase *= wMark;
            }
        }
        break;
    }
    }
    o.phase /= std::abs(o.phase);
}

void IqSynthesizer::synthesize(const SignalScene& scene, const std::vector<Signal>& extra, int32_t tuned,
                               double gainDb, int16_t* out) {
    std::fill(acc_.begin(), acc_.end(), std::complex<double>{});
    for (auto& [id, o] : osc_) o.seen = false;

    // Only signals inside the span are synthesised; a real receiver's filter removes the rest.
    const double edge = kSampleRate / 2.0 - 100.0;
    auto inSpan = [&](const Signal& s) { return std::abs(double(s.frequency) - tuned) < edge; };
    for (const auto& s : scene.signals())
        if (inSpan(s)) addSignal(s, tuned, gainDb, acc_.data());
    for (const auto& s : extra)
        if (inSpan(s)) addSignal(s, tuned, gainDb, acc_.data());
    // Forget signals that left the span or the scene, so their state does not pile up.
    std::erase_if(osc_, [](const auto& kv) { return !kv.second.seen; });

    // Band noise in a bin of 11070/512 Hz, then its standard deviation per sample and component
    // (a bin of the divided transform averages 512 samples: the per-sample deviation is
    // √512 times the bin magnitude, shared by the two components).
    const double binDb = scene.noiseDensity(tuned) + 10.0 * std::log10(kSampleRate / 512.0);
    const double bandSigma = std::pow(10.0, (binDb + gainDb - 87.5) / 20.0) * 16.0;
    const double sigma = std::sqrt(bandSigma * bandSigma + kAdcNoise * kAdcNoise);
    // Sum of four uniform values in [-1, 1): variance 4/3, close enough to Gaussian.
    const double noiseScale = sigma / std::sqrt(4.0 / 3.0) / 2147483648.0;
    auto uniform = [this]() {
        uint32_t x = noiseState_;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        noiseState_ = x;
        return double(int32_t(x));
    };
    auto toSample = [](double v) {
        v = std::clamp(v, -32768.0, 32767.0);
        return int16_t(v >= 0 ? v + 0.5 : v - 0.5);
    };
    for (int n = 0; n < kPairs; ++n) {
        double ni = (uniform() + uniform() + uniform() + uniform()) * noiseScale;
        double nq = (uniform() + uniform() + uniform() + uniform()) * noiseScale;
        out[2 * n] = toSample(acc_[n].real() + ni);
        out[2 * n + 1] = toSample(acc_[n].imag() + nq);
    }
}

} // namespace sim
