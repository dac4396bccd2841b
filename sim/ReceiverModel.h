// The simulated receiver: its settings as the commands leave them, and what it sends back on
// its own — frequency and level reports after tuning, level reports ten times a second, state requests
// on the serial line until the PC has uploaded its settings, a gain report and a sample block
// per block period while the stream is on (USB), and decoded telegraph characters.
//
// The model knows nothing about sockets or terminals: the links are behind ModelOutput, and
// time is passed in, so tests can drive it with any clock.
#pragma once

#include "sim/CommandFrame.h"
#include "sim/IqSynthesizer.h"
#include "sim/SignalScene.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <set>
#include <vector>

namespace sim {

enum class Link { Serial, Usb };
const char* linkName(Link link);

class ModelOutput {
public:
    virtual ~ModelOutput() = default;
    // Whether the PC is there on that link (serial port open, USB device imported).
    virtual bool linkOpen(Link link) const = 0;
    // One report frame, STX to ETX.
    virtual void sendReport(Link link, const std::vector<uint8_t>& frame) = 0;
    // One sample block (IqSynthesizer::kSamples values) for the bulk endpoint.
    virtual void sendBlock(const int16_t* samples) = 0;
};

class ReceiverModel {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    static constexpr std::chrono::milliseconds kLevelPeriod{100};
    static constexpr std::chrono::milliseconds kStateRequestPeriod{3000};
    // 1024 pairs at 11070 pairs a second.
    static constexpr std::chrono::nanoseconds kBlockPeriod{
        int64_t(1e9 * IqSynthesizer::kPairs / IqSynthesizer::kSampleRate)};

    ReceiverModel(ModelOutput& out, SignalScene scene);

    // A frame received on a link. Returns a warning (Russian) when a value was out of range
    // and had to be limited, else an empty string.
    std::string command(Link from, const ParsedFrame& frame, TimePoint now);

    void linkOpened(Link link, TimePoint now);
    void linkClosed(Link link);

    // Sends whatever is due at `now`.
    void advance(TimePoint now);
    // The next moment advance() has something to do.
    TimePoint nextDeadline() const;

    // The current value of a letter of the command table (0 for an unknown letter).
    int32_t value(char letter) const;
    bool uploadComplete() const { return uploadComplete_; }
    int dspWordsLoaded() const { return dspWords_; }
    int spectrumSelector() const { return spectrumSelector_; }
    uint16_t serviceRegister(int n) const { return n >= 1 && n <= 3 ? registers_[size_t(n - 1)] : 0; }

    SignalScene& scene() { return scene_; }
    const SignalScene& scene() const { return scene_; }

    // The IF gain the receiver reports in `C` (0…99): set by the AGC, or the manual gain.
    int ifGain() const;
    // Total gain carried by the samples (see IqSynthesizer), matching what the PC assumes from
    // the reported gain, the preamplifier and the attenuator.
    double sampleGainDb() const;
    // The value of the next `L` report.
    int levelReport() const;
    // Signals that the receiver itself adds (test generator), at the current settings.
    std::vector<Signal> internalSignals() const;
    // Synthesises one block at the current settings (also used by sendBlock's caller).
    void synthesizeBlock(int16_t* out);

private:
    bool automaticGain() const { return value('J') <= 4; }
    void sendToOpenLinks(const std::vector<uint8_t>& frame);
    void restartUploadWatch();
    void frequencyTuned(Link from, TimePoint now);
    void updateDecoder(TimePoint now);

    ModelOutput& out_;
    SignalScene scene_;
    IqSynthesizer synth_;
    std::vector<int32_t> values_; // one per entry of commandLetters()

    std::array<uint16_t, 3> registers_{};
    int dspWords_ = 0;
    int spectrumSelector_ = 0;

    std::set<char> uploadLetters_;   // letters seen since the state requests began
    bool uploadComplete_ = false;

    TimePoint nextLevel_{};
    TimePoint nextStateRequest_{};
    TimePoint nextBlock_{};
    bool blocksRunning_ = false;

    // Decoder: the telegraph signal being read and the position in its coded message.
    uint32_t decoderSignal_ = 0;
    int decoderMode_ = 0;
    std::vector<uint8_t> decoderCodes_;
    size_t decoderPos_ = 0;
    TimePoint nextCharacter_{};
    std::chrono::nanoseconds characterPeriod_{};

    std::vector<int16_t> block_;
};

} // namespace sim
