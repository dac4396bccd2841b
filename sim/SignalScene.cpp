#include "sim/SignalScene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

const char* const kRussianText =
    "ВНИМАНИЕ ВСЕМ СТАНЦИЯМ. ПРОГНОЗ ПОГОДЫ НА 12 ЧАСОВ: ВЕТЕР СЕВЕРО-ЗАПАДНЫЙ 5-7 М/С, "
    "ВОЛНЕНИЕ 3 БАЛЛА, ВИДИМОСТЬ ХОРОШАЯ.\n";
const char* const kLatinText =
    "CQ CQ CQ DE VESTRA TEST 1234567890 THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG.\n";

// Broadcast bands, kHz, with the channel spacing of their transmitters.
struct Band { int fromKHz; int toKHz; };
constexpr Band kBroadcastBands[] = {
    {2300, 2495}, {3200, 3400}, {3900, 4000}, {4750, 5060}, {5900, 6200}, {7200, 7450},
    {9400, 9900}, {11600, 12100}, {13570, 13870}, {15100, 15800}, {17480, 17900},
    {21450, 21850}, {25670, 26100},
};

// A small deterministic generator so the default scene is the same at every start.
struct SceneRandom {
    uint32_t state = 12345;
    uint32_t next() { state = state * 1103515245u + 12345u; return state >> 8; }
    int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }
};

} // namespace

bool parseSignalKind(const std::string& word, SignalKind& kind) {
    static const std::pair<const char*, SignalKind> names[] = {
        {"carrier", SignalKind::Carrier}, {"am", SignalKind::Am},
        {"cw", SignalKind::Cw}, {"fsk", SignalKind::Fsk}};
    for (const auto& [name, k] : names)
        if (word == name) {
            kind = k;
            return true;
        }
    return false;
}

const char* signalKindName(SignalKind kind) {
    switch (kind) {
    case SignalKind::Carrier: return "carrier";
    case SignalKind::Am: return "am";
    case SignalKind::Cw: return "cw";
    case SignalKind::Fsk: return "fsk";
    }
    return "?";
}

SignalScene SignalScene::defaultScene() {
    SignalScene scene;
    SceneRandom rnd;
    // Broadcasters: about two channels in three of each band are busy, on the 5 kHz raster,
    // as on an evening when the bands are full.
    for (const auto& band : kBroadcastBands) {
        for (int khz = band.fromKHz; khz <= band.toKHz; khz += 5) {
            if (rnd.range(0, 2) == 0) continue;
            Signal s;
            s.kind = SignalKind::Am;
            s.frequency = khz * 1000;
            s.level = rnd.range(25, 75);
            s.audio = rnd.range(3, 12) * 100;
            scene.add(s);
        }
    }
    // Medium-wave broadcasters at the bottom of the range (the receiver starts at 1000 kHz).
    for (int khz : {999, 1008, 1017, 1053, 1089, 1215}) {
        Signal s;
        s.kind = SignalKind::Am;
        s.frequency = khz * 1000;
        s.level = rnd.range(45, 70);
        s.audio = rnd.range(3, 12) * 100;
        scene.add(s);
    }
    // Standard-frequency carriers.
    for (int mhz : {5, 10, 15, 20, 25}) {
        Signal s;
        s.kind = SignalKind::Carrier;
        s.frequency = mhz * 1000000;
        s.level = 55 - mhz;
        scene.add(s);
    }
    // Telegraph: FSK stations in the maritime and fixed-service bands, keyed carriers in
    // the amateur bands. Russian and Latin messages alternate.
    struct Tlg { int32_t hz; SignalKind kind; int baud; int shift; double level; bool russian; };
    const Tlg tlg[] = {
        {1820000, SignalKind::Cw, 50, 0, 35, false},   {3520000, SignalKind::Cw, 50, 0, 38, true},
        {4583000, SignalKind::Fsk, 50, 500, 42, true}, {6326500, SignalKind::Fsk, 50, 170, 36, false},
        {7030000, SignalKind::Cw, 50, 0, 40, false},   {7646000, SignalKind::Fsk, 100, 850, 45, true},
        {8424000, SignalKind::Fsk, 50, 170, 33, false}, {10100800, SignalKind::Fsk, 75, 450, 39, true},
        {10110000, SignalKind::Cw, 45, 0, 30, false},   {12579500, SignalKind::Fsk, 50, 200, 37, false},
        {14070000, SignalKind::Fsk, 45, 170, 28, false}, {14030000, SignalKind::Cw, 50, 0, 34, true},
        {16807000, SignalKind::Fsk, 50, 500, 35, true}, {18105000, SignalKind::Cw, 50, 0, 26, false},
        {22376000, SignalKind::Fsk, 100, 400, 31, false}, {24890000, SignalKind::Cw, 50, 0, 25, true},
        {28050000, SignalKind::Cw, 50, 0, 22, false},
    };
    for (const auto& t : tlg) {
        Signal s;
        s.kind = t.kind;
        s.frequency = t.hz;
        s.baud = t.baud;
        s.shift = t.shift ? t.shift : 500;
        s.level = t.level;
        s.russian = t.russian;
        scene.add(s);
    }
    return scene;
}

uint32_t SignalScene::add(Signal s) {
    s.id = nextId_++;
    if (s.keyed() && s.message.empty()) s.message = s.russian ? kRussianText : kLatinText;
    signals_.push_back(std::move(s));
    ++version_;
    return signals_.back().id;
}

size_t SignalScene::remove(int32_t frequency, int32_t tolerance) {
    auto before = signals_.size();
    std::erase_if(signals_, [&](const Signal& s) {
        return std::abs(int64_t(s.frequency) - frequency) <= tolerance;
    });
    size_t removed = before - signals_.size();
    if (removed) ++version_;
    return removed;
}

double SignalScene::noiseDensity(int32_t frequency) const {
    // Atmospheric and man-made noise: about 10 dB higher at 1 MHz than at 30 MHz.
    double mhz = std::clamp(frequency / 1e6, 1.0, 30.0);
    return -22.0 - 10.0 * std::log10(mhz) * 0.68;
}

double SignalScene::channelLevel(int32_t centre, int32_t bandwidth) const {
    double power = std::pow(10.0, noiseDensity(centre) / 10.0) * std::max(bandwidth, 1);
    int32_t half = bandwidth / 2;
    for (const auto& s : signals_)
        if (std::abs(int64_t(s.frequency) - centre) <= half) power += std::pow(10.0, s.level / 10.0);
    return 10.0 * std::log10(power);
}

double SignalScene::filterAttenuation(double offset, int32_t bandwidth) {
    constexpr double kSkirtDb = 60.0, kSkirtWidth = 0.75;
    const double bw = std::max(bandwidth, 1);
    const double beyond = std::abs(offset) - bw / 2;
    if (beyond <= 0) return 0;
    if (beyond > kSkirtWidth * bw) return HUGE_VAL;
    return kSkirtDb * beyond / (kSkirtWidth * bw);
}

double SignalScene::meterLevel(int32_t centre, int32_t bandwidth) const {
    double power = std::pow(10.0, noiseDensity(centre) / 10.0) * std::max(bandwidth, 1);
    for (const auto& s : signals_) {
        const double loss = filterAttenuation(double(s.frequency) - centre, bandwidth);
        if (loss != HUGE_VAL) power += std::pow(10.0, (s.level - loss) / 10.0);
    }
    return 10.0 * std::log10(power);
}

const Signal* SignalScene::telegraphAt(int32_t centre, int32_t bandwidth) const {
    const Signal* best = nullptr;
    int32_t half = bandwidth / 2;
    for (const auto& s : signals_)
        if (s.keyed() && std::abs(int64_t(s.frequency) - centre) <= half && (!best || s.level > best->level))
            best = &s;
    return best;
}

} // namespace sim
