#include "sim/ReceiverModel.h"

#include "sim/TelegraphCodes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

// Settings of a receiver just switched on.
constexpr std::pair<char, int32_t> kInitialValues[] = {
    {'F', 10000000}, {'E', 90}, {'H', 12000}, {'e', 1850}, {'J', 2}, {'C', 50}, {'D', 20},
    {'P', 1}, {'w', 10}, {'o', 1280}, {'G', 50}, {'T', 500},
};

// Letters that every full upload of the PC program carries, whatever its controls show.
constexpr char kUploadLetters[] = {'F', 'R', 'S', 'B', 'D', 'U', 'z', 'i', 'w', 'v', 'O', 'K', 'M'};

// The AGC keeps the strongest part of the span about 20 dB below full scale: a tone at
// 20·log10(32767) − 20 = 70.3 dB of amplitude, so G = 157.8 − L.
constexpr double kAgcTargetDb = 158.0;
// The PC adds this to the reported gain under AGC; the samples carry the same.
constexpr double kAgcGainBase = 36.0;
constexpr double kPreampGain = 15.0;

// Ids of the receiver's own test signals (outside the range the scene hands out).
constexpr uint32_t kTestCarrierId = 0xF0000001;
constexpr uint32_t kTestTelegraphId = 0xF0000002;

// Bits per character for the decoder modes 1…4: 7.5, 9, 10, 11.
constexpr double kCharacterBits[] = {7.5, 9.0, 10.0, 11.0};

size_t letterIndex(char letter) {
    auto letters = commandLetters();
    for (size_t i = 0; i < letters.size(); ++i)
        if (letters[i].letter == letter) return i;
    return letters.size();
}

} // namespace

const char* linkName(Link link) { return link == Link::Serial ? "serial" : "usb"; }

ReceiverModel::ReceiverModel(ModelOutput& out, SignalScene scene)
    : out_(out), scene_(std::move(scene)), values_(commandLetters().size(), 0),
      block_(IqSynthesizer::kSamples) {
    for (auto [letter, v] : kInitialValues) values_[letterIndex(letter)] = v;
}

int32_t ReceiverModel::value(char letter) const {
    size_t i = letterIndex(letter);
    return i < values_.size() ? values_[i] : 0;
}

std::string ReceiverModel::command(Link from, const ParsedFrame& frame, TimePoint now) {
    std::string warning;
    switch (frame.kind) {
    case FrameKind::Invalid:
        return warning;
    case FrameKind::DspPacket:
        if (frame.letter == 'a') dspWords_ = 0;
        dspWords_ += frame.value;
        return warning;
    case FrameKind::SpectrumControl:
        spectrumSelector_ = frame.value;
        values_[letterIndex('s')] = frame.value != 0;
        return warning;
    case FrameKind::Command:
        break;
    }
    const LetterInfo* info = findLetter(frame.letter);
    int32_t v = std::clamp(frame.value, info->min, info->max);
    if (v != frame.value) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "значение %d вне диапазона %d…%d, принято %d", frame.value,
                      info->min, info->max, v);
        warning = buf;
    }
    values_[letterIndex(frame.letter)] = v;
    if (frame.letter == 'g') registers_[size_t(v / 100000 - 1)] = uint16_t(std::min(v % 100000, 65535));

    if (!uploadComplete_) {
        uploadLetters_.insert(frame.letter);
        uploadComplete_ = std::all_of(std::begin(kUploadLetters), std::end(kUploadLetters),
                                      [this](char l) { return uploadLetters_.count(l) > 0; });
    }
    if (frame.letter == 'F') frequencyTuned(from, now);
    if (frame.letter == 's' && v && !blocksRunning_) nextBlock_ = now + kBlockPeriod;
    updateDecoder(now);
    return warning;
}

void ReceiverModel::frequencyTuned(Link from, TimePoint now) {
    if (out_.linkOpen(from)) out_.sendReport(from, buildFrame('F', 8, value('F')));
    // The level of the new frequency goes out at once, so that a PC stepping through a band
    // reads each point's own level; the regular reports carry on from here.
    if (out_.linkOpen(Link::Serial) || out_.linkOpen(Link::Usb)) {
        sendToOpenLinks(buildFrame('L', 4, levelReport()));
        nextLevel_ = now + kLevelPeriod;
    }
}

void ReceiverModel::restartUploadWatch() {
    uploadLetters_.clear();
    uploadComplete_ = false;
}

void ReceiverModel::linkOpened(Link link, TimePoint now) {
    if (link == Link::Serial) {
        // A newly opened port is a PC that does not know our settings yet: ask at once.
        restartUploadWatch();
        out_.sendReport(Link::Serial, buildFrameText('S', ""));
        nextStateRequest_ = now + kStateRequestPeriod;
    }
    nextLevel_ = now + kLevelPeriod;
}

void ReceiverModel::linkClosed(Link link) {
    // A PC that lost its USB device falls back to the serial line and needs the state requests.
    if (link == Link::Usb) restartUploadWatch();
}

int ReceiverModel::ifGain() const {
    if (!automaticGain()) return value('C');
    double span = scene_.channelLevel(value('F'), int32_t(IqSynthesizer::kSampleRate));
    for (const auto& s : internalSignals()) span = std::max(span, s.level);
    double g = kAgcTargetDb - span - kAgcGainBase - kPreampGain * value('P') + value('B') - value('X');
    return int(std::clamp(g, 0.0, 99.0));
}

double ReceiverModel::sampleGainDb() const {
    double g = automaticGain() ? ifGain() + kAgcGainBase : value('C');
    return g + kPreampGain * value('P') - value('B');
}

int ReceiverModel::levelReport() const {
    double level = scene_.meterLevel(value('F'), value('H'));
    for (const auto& s : internalSignals()) {
        const double loss = SignalScene::filterAttenuation(s.frequency - value('F'), value('H'));
        if (loss != HUGE_VAL) level = std::max(level, s.level - loss);
    }
    // The meter is calibrated to the antenna input, as the PC's spectrum scale is: it takes
    // the attenuator, the preamplifier and the IF gain back out of what it measures.
    return int(std::clamp(std::lround(level), -999L, 999L));
}

std::vector<Signal> ReceiverModel::internalSignals() const {
    std::vector<Signal> v;
    int test = value('I');
    if (test == 0) return v;
    Signal s;
    s.level = 50;
    if (test == 6) { // telegraph test signal at the tuned frequency
        s.id = kTestTelegraphId;
        s.kind = SignalKind::Fsk;
        s.frequency = value('F');
        s.baud = value('G');
        s.shift = value('T');
        s.message = "VESTRA TEST RYRYRYRY 1234567890\n";
    } else { // test carrier: 1 kHz above the tuned frequency, or injected at the IF (centre)
        s.id = kTestCarrierId;
        s.kind = SignalKind::Carrier;
        s.frequency = value('F') + (test == 1 ? 1000 : 0);
    }
    v.push_back(s);
    return v;
}

void ReceiverModel::synthesizeBlock(int16_t* out) {
    synth_.synthesize(scene_, internalSignals(), value('F'), sampleGainDb(), out);
}

void ReceiverModel::sendToOpenLinks(const std::vector<uint8_t>& frame) {
    for (Link l : {Link::Serial, Link::Usb})
        if (out_.linkOpen(l)) out_.sendReport(l, frame);
}

void ReceiverModel::updateDecoder(TimePoint now) {
    int mode = value('O');
    const Signal* tlg = nullptr;
    std::vector<Signal> internal;
    if (mode != 0) {
        internal = internalSignals();
        if (!internal.empty() && internal.front().keyed()) tlg = &internal.front();
        else tlg = scene_.telegraphAt(value('F'), value('H'));
    }
    if (!tlg) {
        decoderSignal_ = 0;
        decoderMode_ = 0;
        return;
    }
    auto period = std::chrono::nanoseconds(
        int64_t(1e9 * kCharacterBits[mode - 1] / std::max(tlg->baud, 1)));
    if (tlg->id == decoderSignal_ && mode == decoderMode_ && period == characterPeriod_) return;
    decoderSignal_ = tlg->id;
    decoderMode_ = mode;
    decoderCodes_ = mode == 1 ? encodeMtk2(tlg->message) : encodeMtk5(tlg->message, tlg->russian);
    decoderPos_ = 0;
    characterPeriod_ = period;
    nextCharacter_ = now + period;
}

void ReceiverModel::advance(TimePoint now) {
    bool serial = out_.linkOpen(Link::Serial);
    bool usb = out_.linkOpen(Link::Usb);

    if ((serial || usb) && now >= nextLevel_) {
        sendToOpenLinks(buildFrame('L', 4, levelReport()));
        nextLevel_ += kLevelPeriod;
        if (nextLevel_ <= now) nextLevel_ = now + kLevelPeriod;
    }

    if (serial && !uploadComplete_ && now >= nextStateRequest_) {
        out_.sendReport(Link::Serial, buildFrameText('S', ""));
        nextStateRequest_ = now + kStateRequestPeriod;
    }

    bool stream = usb && value('s') != 0;
    if (stream && !blocksRunning_) nextBlock_ = now + kBlockPeriod;
    blocksRunning_ = stream;
    if (stream && now >= nextBlock_) {
        synthesizeBlock(block_.data());
        char gain[4];
        std::snprintf(gain, sizeof gain, "%03d", ifGain());
        out_.sendReport(Link::Usb, buildFrameText('C', gain));
        out_.sendBlock(block_.data());
        // Keep a fixed schedule; after a long stall start afresh instead of catching up.
        nextBlock_ += kBlockPeriod;
        if (nextBlock_ + kBlockPeriod * 5 < now) nextBlock_ = now + kBlockPeriod;
    }

    updateDecoder(now);
    if (decoderSignal_ && (serial || usb) && now >= nextCharacter_ && !decoderCodes_.empty()) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", decoderCodes_[decoderPos_]);
        decoderPos_ = (decoderPos_ + 1) % decoderCodes_.size();
        sendToOpenLinks(buildFrameText('D', hex));
        nextCharacter_ += characterPeriod_;
        if (nextCharacter_ <= now) nextCharacter_ = now + characterPeriod_;
    }
}

ReceiverModel::TimePoint ReceiverModel::nextDeadline() const {
    bool serial = out_.linkOpen(Link::Serial);
    bool usb = out_.linkOpen(Link::Usb);
    TimePoint next = TimePoint::max();
    if (serial || usb) next = std::min(next, nextLevel_);
    if (serial && !uploadComplete_) next = std::min(next, nextStateRequest_);
    // A stream just switched on starts its schedule at the next advance(): due at once.
    if (usb && value('s') != 0) next = blocksRunning_ ? std::min(next, nextBlock_) : TimePoint{};
    if (decoderSignal_ && (serial || usb)) next = std::min(next, nextCharacter_);
    return next;
}

} // namespace sim
