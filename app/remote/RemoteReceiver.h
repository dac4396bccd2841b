// The receiver as a remote client sees it: frequency, mode and passband, and the levels that
// have a control in the main window. Every read takes the controls' state at that moment;
// every change performs what the operator's action on the same control performs (TuneTo, a
// button's click, a slider's or spin box's change, a choice in the additional-parameters
// window), so the displays, the knob and the receiver follow as they would for the operator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TMain;

namespace rigctl {

// What the receiver has, in Hamlib's terms.
constexpr int32_t kMinFrequency = 1000000;
constexpr int32_t kMaxFrequency = 30000000;
// The bandwidth buttons' widths, widest first (the order of BtnPol12k … BtnPol0k5).
constexpr std::array<int, 6> kBandwidths{12000, 8000, 6000, 3000, 1000, 500};
// The attenuator spin box's steps, 3 … 45 dB (0 is "off").
constexpr int kAttenuatorStep = 3, kAttenuatorMax = 45;
// The gain the RF preamplifier УВЧ adds, as the spectrum's level scale counts it.
constexpr int kPreampGainDb = 15;
// S9 on the short waves is 50 µV at 50 Ω, that is 34 dBµV; the L report reads dBµV.
constexpr int kS9dBuV = 34;
// The LF gain slider's range, 0 … 40 dB, is Hamlib's AF 0.0 … 1.0.
constexpr int kLfGainMax = 40;

// The mode buttons that a client can choose, by their Hamlib token.
constexpr std::array<const char*, 4> kSettableModes{"AM", "CW", "USB", "LSB"};

struct ModeReading {
  std::string token;  // Hamlib's mode token
  int passband = 0;   // Hz; 0 when no bandwidth button is down
};

class RemoteReceiver {
 public:
  explicit RemoteReceiver(TMain& main) : main_(main) {}

  // The frequency the receiver is tuned to (not digits being typed on the keypad).
  int32_t Frequency() const;
  // Rounds to whole Hz; outside 1 … 30 MHz: kInvalid and nothing happens. Else TuneTo.
  int SetFrequency(double hz);

  // In class mode the mode follows from the class (the table in docs/remote-control.md).
  ModeReading Mode() const;
  // `passband`: nothing, 0 or -1 keep the bandwidth; else the narrowest button at least
  // as wide. A mode this receiver lacks: kNotAvailable; a bad token or width: kInvalid.
  int SetMode(std::string_view token, std::optional<int> passband);

  // Levels by Hamlib's token: the value as text, or an error code.
  struct LevelReading {
    int code;
    std::string text;
  };
  LevelReading Level(std::string_view token) const;
  int SetLevel(std::string_view token, std::string_view value);

  static const char* const kGetLevels;  // "ATT PREAMP AF AGC STRENGTH"
  static const char* const kSetLevels;  // "ATT PREAMP AF AGC"

 private:
  int SetAgc(int value);

  TMain& main_;
};

// Hamlib's mode for one emission class designator ("J3E"), `lowerSideband` as the class
// window's sideband choice says; nothing for a designator that is not in the class list.
std::optional<std::string> ClassMode(std::string_view designator, bool lowerSideband);

}  // namespace rigctl
