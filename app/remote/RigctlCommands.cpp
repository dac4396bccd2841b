#include "app/remote/RigctlCommands.h"

#include <cstdio>
#include <vector>

#include "app/remote/RemoteReceiver.h"

namespace rigctl {

namespace {

using Args = std::vector<std::string>;
using Handler = Reply (*)(RemoteReceiver&, const Args&);

// Hamlib's bit masks, as its network client reads them from "\dump_state".
constexpr unsigned long long kModeMask = 0x1 | 0x2 | 0x4 | 0x8;  // AM, CW, USB, LSB
constexpr unsigned long long kLevelPreamp = 1ull << 0, kLevelAtt = 1ull << 1, kLevelAf = 1ull << 3,
                             kLevelAgc = 1ull << 17, kLevelStrength = 1ull << 30;
constexpr unsigned long long kSetLevels = kLevelPreamp | kLevelAtt | kLevelAf | kLevelAgc;
constexpr unsigned long long kGetLevels = kSetLevels | kLevelStrength;
constexpr unsigned kVfoA = 0x1;
constexpr int kNetRigctlModel = 2;

// The one VFO, and the names a client may give it.
constexpr const char* kVfo = "VFOA";
bool IsOurVfo(std::string_view v) { return v == "VFOA" || v == "currVFO" || v == "VFO" || v == "Main" || v == "RX"; }
bool IsHamlibVfo(std::string_view v) {
  for (std::string_view t : {"VFOB", "VFOC", "MEM", "Sub", "TX", "MainA", "MainB", "MainC", "SubA", "SubB", "SubC"})
    if (v == t) return true;
  return false;
}

Reply Status(int code) { return Reply::Error(code); }

Reply SetFreq(RemoteReceiver& r, const Args& a) {
  const std::optional<double> hz = ParseNumber(a[0]);
  return Status(hz ? r.SetFrequency(*hz) : kInvalid);
}

Reply GetFreq(RemoteReceiver& r, const Args&) { return Reply::Value("Frequency", std::to_string(r.Frequency())); }

Reply SetMode(RemoteReceiver& r, const Args& a) {
  if (a[0] == "?") {
    std::string list;
    for (const char* m : kSettableModes) list += (list.empty() ? "" : " ") + std::string(m);
    return Reply::Value("", list);
  }
  std::optional<int> passband;
  if (a.size() > 1) {
    const std::optional<double> v = ParseNumber(a[1]);
    if (!v || *v != int(*v)) return Status(kInvalid);
    passband = int(*v);
  }
  return Status(r.SetMode(a[0], passband));
}

Reply GetMode(RemoteReceiver& r, const Args&) {
  const ModeReading m = r.Mode();
  return {{{"Mode", m.token}, {"Passband", std::to_string(m.passband)}}, kOk};
}

Reply SetLevel(RemoteReceiver& r, const Args& a) {
  if (a[0] == "?") return Reply::Value("", RemoteReceiver::kSetLevels);
  if (a.size() < 2) return Status(kInvalid);
  return Status(r.SetLevel(a[0], a[1]));
}

Reply GetLevel(RemoteReceiver& r, const Args& a) {
  if (a[0] == "?") return Reply::Value("", RemoteReceiver::kGetLevels);
  const RemoteReceiver::LevelReading l = r.Level(a[0]);
  return l.code == kOk ? Reply::Value("Level Value", l.text) : Status(l.code);
}

Reply GetPtt(RemoteReceiver&, const Args&) { return Reply::Value("PTT", "0"); }
Reply SetVfo(RemoteReceiver&, const Args& a) {
  if (a[0] == "?") return Reply::Value("", kVfo);
  return Status(IsOurVfo(a[0]) ? kOk : IsHamlibVfo(a[0]) ? kNotAvailable : kInvalid);
}
Reply GetVfo(RemoteReceiver&, const Args&) { return Reply::Value("VFO", kVfo); }
Reply ChkVfo(RemoteReceiver&, const Args&) { return Reply::Value("ChkVFO", "0"); }
Reply GetPowerstat(RemoteReceiver&, const Args&) { return Reply::Value("Power Status", "1"); }
// Hamlib's client asks before each mode change whether the mode is locked; it must read a number.
Reply GetLockMode(RemoteReceiver&, const Args&) { return Reply::Value("Locked", "0"); }
Reply GetInfo(RemoteReceiver&, const Args&) { return Reply::Value("Info", "PVestra, VESTRA receiver"); }
Reply NotAvailable(RemoteReceiver&, const Args&) { return Status(kNotAvailable); }

// Lines of a dump, one record each.
Reply Lines(const std::string& text) {
  Reply reply;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    reply.values.emplace_back("", text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return reply;
}

Reply DumpStateCommand(RemoteReceiver&, const Args&) { return Lines(DumpState()); }

Reply DumpCaps(RemoteReceiver&, const Args&) {
  std::string att;
  for (int db = kAttenuatorStep; db <= kAttenuatorMax; db += kAttenuatorStep) att += std::to_string(db) + "dB ";
  std::string filters;
  for (int w : kBandwidths) filters += std::to_string(w) + " ";
  return Lines(
      "Model name: VESTRA\n"
      "Mfg name: PVestra\n"
      "Rig type: Receiver\n"
      "PTT type: None\n"
      "Receive range: 1000000 - 30000000 Hz, modes AM CW USB LSB, VFOA\n"
      "Transmit range: none\n"
      "Tuning step: 1 Hz\n"
      "Filters (Hz): " + filters + "\n"
      "Preamp: " + std::to_string(kPreampGainDb) + "dB\n"
      "Attenuator: " + att + "\n"
      "Get level: " + RemoteReceiver::kGetLevels + "\n"
      "Set level: " + RemoteReceiver::kSetLevels + "\n"
      "AGC levels: 0=OFF 1=SUPERFAST 2=FAST 3=SLOW 5=MEDIUM 6=AUTO 7=LONG 8=ON\n"
      "Get functions: none\n"
      "Set functions: none\n"
      "VFO list: VFOA\n"
      "Can set Frequency: Y\nCan get Frequency: Y\nCan set Mode: Y\nCan get Mode: Y\n"
      "Can set VFO: Y\nCan get VFO: Y\nCan set PTT: N\nCan get PTT: Y\n"
      "Can set Level: Y\nCan get Level: Y\nCan get power stat: Y");
}

struct CommandEntry {
  char shortName;  // 0: long name only
  std::string_view longName;
  int minArgs, maxArgs;
  Handler run;
};

constexpr CommandEntry kCommands[] = {
    {'F', "set_freq", 1, 1, SetFreq},
    {'f', "get_freq", 0, 0, GetFreq},
    {'M', "set_mode", 1, 2, SetMode},
    {'m', "get_mode", 0, 0, GetMode},
    {'L', "set_level", 1, 2, SetLevel},
    {'l', "get_level", 1, 1, GetLevel},
    {'T', "set_ptt", 1, 1, NotAvailable},
    {'t', "get_ptt", 0, 0, GetPtt},
    {'V', "set_vfo", 1, 1, SetVfo},
    {'v', "get_vfo", 0, 0, GetVfo},
    {0, "chk_vfo", 0, 0, ChkVfo},
    {0, "get_powerstat", 0, 0, GetPowerstat},
    {0, "set_powerstat", 1, 1, NotAvailable},
    {0, "get_lock_mode", 0, 0, GetLockMode},
    {0, "dump_state", 0, 0, DumpStateCommand},
    {'1', "dump_caps", 0, 0, DumpCaps},
    {'_', "get_info", 0, 0, GetInfo},
};

// Hamlib's other commands: things a receive-only VESTRA does not have.
constexpr std::string_view kUnavailableShort = "JjZzSsIiXxYybRrOoCcDdNnUuPpBEeGgHhAa24wW";
constexpr std::string_view kUnavailableLong[] = {
    "set_rit", "get_rit", "set_xit", "get_xit", "set_split_vfo", "get_split_vfo", "set_split_freq",
    "get_split_freq", "set_split_mode", "get_split_mode", "set_split_freq_mode",
    "get_split_freq_mode", "set_ant", "get_ant", "send_morse", "stop_morse", "wait_morse",
    "send_voice_mem", "set_rptr_shift", "get_rptr_shift", "set_rptr_offs", "get_rptr_offs",
    "set_ctcss_tone", "get_ctcss_tone", "set_dcs_code", "get_dcs_code", "set_ctcss_sql",
    "get_ctcss_sql", "set_dcs_sql", "get_dcs_sql", "set_ts", "get_ts", "set_func", "get_func",
    "set_parm", "get_parm", "set_bank", "set_mem", "get_mem", "vfo_op", "scan", "set_channel",
    "get_channel", "set_trn", "get_trn", "reset", "send_dtmf", "recv_dtmf", "get_dcd",
    "power2mW", "mW2power", "send_cmd", "set_clock", "get_clock", "set_vfo_opt",
    "set_lock_mode", "get_rig_info", "get_vfo_info", "get_vfo_list",
    "get_modes", "get_mode_bandwidths", "set_twiddle", "get_twiddle", "set_uplink",
    "set_cache", "get_cache", "halt", "pause", "password", "set_conf", "get_conf"};

const CommandEntry* Find(std::string_view command, bool* known) {
  *known = false;
  if (command.size() > 1 && command.front() == '\\') {
    const std::string_view name = command.substr(1);
    for (const CommandEntry& s : kCommands)
      if (s.longName == name) return &s;
    for (std::string_view n : kUnavailableLong)
      if (n == name) *known = true;
    return nullptr;
  }
  if (command.size() != 1) return nullptr;
  for (const CommandEntry& s : kCommands)
    if (s.shortName != 0 && s.shortName == command.front()) return &s;
  *known = kUnavailableShort.find(command.front()) != std::string_view::npos;
  return nullptr;
}

}  // namespace

Outcome Execute(RemoteReceiver& receiver, const Request& request) {
  // Hamlib's client waits for the "RPRT 0" of its "q" before it closes.
  if (request.command == "q" || request.command == "Q" || request.command == "\\quit")
    return {FormatReply(request, "quit", Reply::Error(kOk)), true};
  bool known = false;
  const CommandEntry* entry = Find(request.command, &known);
  if (!entry) return {FormatReply(request, {}, Reply::Error(known ? kNotAvailable : kInvalid))};
  const int n = int(request.args.size());
  if (n < entry->minArgs || n > entry->maxArgs) return {FormatReply(request, entry->longName, Reply::Error(kInvalid))};
  return {FormatReply(request, entry->longName, entry->run(receiver, request.args))};
}

std::string DumpState() {
  char line[160];
  std::string out;
  auto add = [&out](const std::string& s) { out += s + "\n"; };
  add("1");                               // protocol version: key=value lines follow, up to "done"
  add(std::to_string(kNetRigctlModel));   // model
  add("0");                               // ITU region (no longer used)
  std::snprintf(line, sizeof line, "%d.000000 %d.000000 0x%llx -1 -1 0x%x 0x1", kMinFrequency, kMaxFrequency,
                kModeMask, kVfoA);
  add(line);                              // receive range: start, end, modes, power, VFO, antenna
  add("0 0 0 0 0 0 0");                   // end of the receive ranges
  add("0 0 0 0 0 0 0");                   // no transmit range
  std::snprintf(line, sizeof line, "0x%llx 1", kModeMask);
  add(line);                              // tuning step: 1 Hz in every mode
  add("0 0");
  for (int w : kBandwidths) {
    std::snprintf(line, sizeof line, "0x%llx %d", kModeMask, w);
    add(line);                            // the filters, widest first
  }
  add("0 0");
  add("0");                               // max RIT
  add("0");                               // max XIT
  add("0");                               // max IF shift
  add("0");                               // announces
  add(std::to_string(kPreampGainDb));     // preamplifier steps, dB
  std::string att;
  for (int db = kAttenuatorStep; db <= kAttenuatorMax; db += kAttenuatorStep)
    att += (att.empty() ? "" : " ") + std::to_string(db);
  add(att);                               // attenuator steps, dB
  add("0x0");                             // get functions
  add("0x0");                             // set functions
  std::snprintf(line, sizeof line, "0x%llx", kGetLevels);
  add(line);
  std::snprintf(line, sizeof line, "0x%llx", kSetLevels);
  add(line);
  add("0x0");                             // get parameters
  add("0x0");                             // set parameters
  add("vfo_ops=0x0");
  add("ptt_type=0x0");                    // a receiver: no PTT
  add("done");
  return out;
}

}  // namespace rigctl
