#include "app/remote/RemoteReceiver.h"

#include <cmath>
#include <cstdio>

#include "app/dsp/Uclass.h"
#include "app/dsp/Umparams.h"
#include "app/panel/Umain.h"
#include "app/remote/RigctlProtocol.h"

namespace rigctl {

const char* const RemoteReceiver::kGetLevels = "ATT PREAMP AF AGC STRENGTH";
const char* const RemoteReceiver::kSetLevels = "ATT PREAMP AF AGC";

namespace {

// Hamlib's mode tokens that this receiver does not have: a client gets "not available"
// for them, and "bad value" for a token Hamlib does not know either.
constexpr std::string_view kOtherHamlibModes[] = {
    "CWR", "RTTY", "RTTYR", "FM", "WFM", "AMS", "PKTLSB", "PKTUSB", "PKTFM", "ECSSUSB",
    "ECSSLSB", "FAX", "SAM", "SAL", "SAH", "DSB", "FMN", "PKTAM", "IQ", "C4FM", "DD", "P25"};

// Hamlib's level tokens that have no control here.
constexpr std::string_view kOtherHamlibLevels[] = {
    "VOXDELAY", "RF", "SQL", "IF", "APF", "NR", "PBT_IN", "PBT_OUT", "CWPITCH", "RFPOWER",
    "MICGAIN", "KEYSPD", "NOTCHF", "COMP", "BKINDL", "BAL", "METER", "VOXGAIN", "ANTIVOX",
    "SLOPE_LOW", "SLOPE_HIGH", "BKIN_DLYMS", "RAWSTR", "SWR", "ALC", "RFPOWER_METER",
    "COMPMETER", "VD_METER", "ID_METER", "NOTCHF_RAW", "MONITOR_GAIN", "NB", "NQ",
    "RFPOWER_METER_WATTS", "SPECTRUM_MODE", "SPECTRUM_SPAN", "SPECTRUM_EDGE_LOW",
    "SPECTRUM_EDGE_HIGH", "SPECTRUM_SPEED", "SPECTRUM_REF", "SPECTRUM_AVG", "SPECTRUM_ATT",
    "TEMP_METER", "BAND_SELECT", "USB_AF", "AGC_TIME"};

template <size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view token) {
  for (std::string_view t : list)
    if (t == token) return true;
  return false;
}

// Hamlib's AGC values (its agc_level_e).
constexpr int kAgcOff = 0, kAgcSuperfast = 1, kAgcFast = 2, kAgcSlow = 3, kAgcUser = 4,
              kAgcMedium = 5, kAgcAuto = 6, kAgcLong = 7, kAgcOn = 8;
// The AGC time constants of TMParams.tARU (0.02, 0.1, 0.5, 1, 5 s) as Hamlib's speeds.
constexpr int kAgcOfTimeConstant[5] = {kAgcSuperfast, kAgcFast, kAgcMedium, kAgcSlow, kAgcLong};

// One row per class of the class window: the mode a Hamlib client is told.
struct ClassRow {
  const char* designator;
  const char* mode;  // nullptr: USB or LSB as the class window's sideband choice says
};
constexpr ClassRow kClassModes[] = {
    {"A1A", "CW"},     {"A1B", "CW"},     {"A2A", "AM"},     {"A2B", "AM"},     {"H2A", "CW"},
    {"R2A", "CW"},     {"J2A", "CW"},     {"H2B", "PKTUSB"}, {"R2B", "PKTUSB"}, {"J2B", "PKTUSB"},
    {"J2E", "USB"},    {"A3E", "AM"},     {"H3E", nullptr},  {"R3E", nullptr},  {"J3E", nullptr},
    {"A2C", "AM"},     {"A3C", "AM"},     {"H3C", nullptr},  {"R3C", nullptr},  {"J3C", nullptr},
    {"F1A", "RTTY"},   {"F1B", "RTTY"},   {"F1C", "RTTY"},   {"F2C", "RTTY"},   {"F3C", "FM"},
    {"F3E", "FM"},     {"F7B", "RTTY"},   {"G1B", "PKTUSB"}, {"G7B", "PKTUSB"}, {"B7B", "PKTUSB"},
    {"B8E", nullptr},  {"B9W", "USB"}};

std::string Decimal(int v) { return std::to_string(v); }

}  // namespace

std::optional<std::string> ClassMode(std::string_view designator, bool lowerSideband) {
  for (const ClassRow& row : kClassModes)
    if (designator == row.designator) return row.mode ? row.mode : (lowerSideband ? "LSB" : "USB");
  return std::nullopt;
}

int32_t RemoteReceiver::Frequency() const { return main_.ReceiverFrequency(); }

int RemoteReceiver::SetFrequency(double hz) {
  const double f = std::round(hz);
  if (!(f >= kMinFrequency && f <= kMaxFrequency)) return kInvalid;
  main_.TuneTo(int32_t(f));
  return kOk;
}

ModeReading RemoteReceiver::Mode() const {
  ModeReading m;
  for (size_t i = 0; i < kBandwidths.size(); ++i)
    if (main_.BandwidthButton(int(i))->Down()) {
      m.passband = kBandwidths[i];
      break;
    }
  if (main_.BtnAM->Down()) m.token = "AM";
  else if (main_.BtnTLG->Down()) m.token = "CW";
  else if (main_.BtnVBP->Down()) m.token = "USB";
  else if (main_.BtnNBP->Down()) m.token = "LSB";
  else if (ClassIz) {
    // An unknown designator is applied as A1A by the class window; reported the same.
    const std::string designator = ClassIz->ClassNameText().toStdString();
    const bool lower = ClassIz->BP->ItemIndex() == 1;
    m.token = ClassMode(designator, lower).value_or(*ClassMode("A1A", lower));
  } else {
    m.token = "AM";
  }
  return m;
}

int RemoteReceiver::SetMode(std::string_view token, std::optional<int> passband) {
  TPictureButton* const buttons[4] = {main_.BtnAM, main_.BtnTLG, main_.BtnVBP, main_.BtnNBP};
  TPictureButton* mode = nullptr;
  for (size_t i = 0; i < kSettableModes.size(); ++i)
    if (token == kSettableModes[i]) mode = buttons[i];
  if (!mode) return Contains(kOtherHamlibModes, token) ? kNotAvailable : kInvalid;

  int bandwidth = -1;  // index of the bandwidth button to click; -1: keep
  if (passband && *passband != 0 && *passband != -1) {
    if (*passband < 0) return kInvalid;
    for (int i = int(kBandwidths.size()) - 1; i >= 0 && bandwidth < 0; --i)
      if (kBandwidths[size_t(i)] >= *passband) bandwidth = i;
    if (bandwidth < 0) return kInvalid;  // wider than the widest filter
  }
  // The operator's two clicks: the mode (which re-issues the bandwidth that is down), then
  // the bandwidth button if it is another one.
  mode->PerformClick();
  if (bandwidth >= 0 && !main_.BandwidthButton(bandwidth)->Down()) main_.BandwidthButton(bandwidth)->PerformClick();
  return kOk;
}

RemoteReceiver::LevelReading RemoteReceiver::Level(std::string_view token) const {
  if (token == "ATT") return {kOk, Decimal(main_.AttVch->Value())};
  if (token == "PREAMP") return {kOk, Decimal(main_.BtnUvc->Down() ? kPreampGainDb : 0)};
  if (token == "AF") {
    char text[32];
    std::snprintf(text, sizeof text, "%f", double(main_.SldNch->value()) / kLfGainMax);
    return {kOk, text};
  }
  if (token == "AGC") {
    if (!main_.BtnARU->Down()) return {kOk, Decimal(kAgcOff)};
    if (!MParams) return {kOk, Decimal(kAgcAuto)};
    const int index = MParams->tARU->ItemIndex();
    return {kOk, Decimal(index >= 0 && index < 5 ? kAgcOfTimeConstant[index] : kAgcAuto)};
  }
  if (token == "STRENGTH") return {kOk, Decimal(main_.ReportedLevel - kS9dBuV)};
  return {Contains(kOtherHamlibLevels, token) ? kNotAvailable : kInvalid, {}};
}

int RemoteReceiver::SetLevel(std::string_view token, std::string_view value) {
  const std::optional<double> v = ParseNumber(value);
  if (token == "ATT") {
    if (!v || *v != std::trunc(*v) || *v < 0 || *v > kAttenuatorMax || int(*v) % kAttenuatorStep != 0) return kInvalid;
    main_.AttVch->SetValue(int(*v));  // its change action sends the attenuation
    return kOk;
  }
  if (token == "PREAMP") {
    if (!v || (*v != 0 && *v != kPreampGainDb)) return kInvalid;
    if (main_.BtnUvc->Down() != (*v != 0)) main_.BtnUvc->PerformClick();
    return kOk;
  }
  if (token == "AF") {
    if (!v || *v < 0 || *v > 1) return kInvalid;
    main_.SldNch->setValue(int(std::lround(*v * kLfGainMax)));  // its change action sends D
    return kOk;
  }
  if (token == "AGC") {
    if (!v || *v != std::trunc(*v)) return kInvalid;
    return SetAgc(int(*v));
  }
  if (token == "STRENGTH") return kNotAvailable;  // a meter
  return Contains(kOtherHamlibLevels, token) ? kNotAvailable : kInvalid;
}

int RemoteReceiver::SetAgc(int value) {
  if (value == kAgcOff) {
    main_.BtnRRU->PerformClick();
    return kOk;
  }
  if (value == kAgcAuto || value == kAgcOn) {
    main_.BtnARU->PerformClick();  // automatic, with the time constant in force
    return kOk;
  }
  if (value == kAgcUser) return kNotAvailable;
  if (!MParams) return kNotAvailable;
  for (int i = 0; i < 5; ++i)
    if (kAgcOfTimeConstant[i] == value) {
      // As the operator's choice of the time constant: it switches to АРУ and sends it.
      MParams->tARU->Choose(i);
      return kOk;
    }
  return kInvalid;
}

}  // namespace rigctl
