// The band the simulated receiver listens to: a list of signals over 1–30 MHz and the noise
// floor. Levels are antenna levels in dB (dBµV); the receiver model turns them into level
// reports and the IQ synthesiser into samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class SignalKind {
    Carrier, // unmodulated carrier
    Am,      // amplitude-modulated broadcaster
    Cw,      // on-off keyed telegraph, start-stop characters of its message
    Fsk,     // frequency-shift keyed telegraph, start-stop characters of its message
};

// "carrier", "am", "cw", "fsk"; returns false for any other word.
bool parseSignalKind(const std::string& word, SignalKind& kind);
const char* signalKindName(SignalKind kind);

struct Signal {
    uint32_t id = 0;         // unique within the scene, given by add()
    int32_t frequency = 0;   // Hz; for FSK the centre between the two tones
    double level = 0;        // dBµV (the carrier, or each tone of a keyed signal)
    SignalKind kind = SignalKind::Carrier;
    int baud = 50;           // keyed signals: telegraph speed
    int shift = 500;         // FSK: distance between the two tones, Hz
    double audio = 1000;     // AM: modulating tone, Hz
    std::string message;     // keyed signals: the text sent, repeated (UTF-8)
    bool russian = false;    // the message's alphabet

    bool keyed() const { return kind == SignalKind::Cw || kind == SignalKind::Fsk; }
};

class SignalScene {
public:
    // An empty band with the default noise floor.
    SignalScene() = default;
    // The scene the simulator starts with: broadcasters in the broadcast bands, telegraph
    // and FSK stations, standard-frequency carriers.
    static SignalScene defaultScene();

    // Adds a signal and returns its id. A keyed signal without a message gets a default one.
    uint32_t add(Signal s);
    // Removes every signal within `tolerance` Hz of `frequency`; returns how many went.
    size_t remove(int32_t frequency, int32_t tolerance = 50);

    const std::vector<Signal>& signals() const { return signals_; }
    // Changes on every add or remove, so a cache of the scene knows when to rebuild.
    uint64_t version() const { return version_; }

    // Noise floor at a frequency, dBµV in 1 Hz (falls from the low to the high end of the band).
    double noiseDensity(int32_t frequency) const;
    // Total level, dBµV, of the signals within ±bandwidth/2 of `centre` plus the noise in that
    // bandwidth.
    double channelLevel(int32_t centre, int32_t bandwidth) const;
    // What the receiver's level meter measures tuned to `centre` with a filter of
    // `bandwidth` Hz, dBµV: the noise in the bandwidth, each signal inside the passband at
    // its level, and signals on the filter's skirts attenuated by their distance.
    double meterLevel(int32_t centre, int32_t bandwidth) const;
    // The filter's attenuation, dB, of a signal `offset` Hz from the tuned frequency: 0 inside
    // ±bandwidth/2, rising by 60 dB over the next 0.75 × bandwidth (a shape factor of 2.5),
    // infinite beyond.
    static double filterAttenuation(double offset, int32_t bandwidth);
    // The strongest keyed signal within ±bandwidth/2 of `centre`, or nullptr.
    const Signal* telegraphAt(int32_t centre, int32_t bandwidth) const;

private:
    std::vector<Signal> signals_;
    uint32_t nextId_ = 1;
    uint64_t version_ = 0;
};

} // namespace sim
