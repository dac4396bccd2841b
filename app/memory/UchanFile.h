// The memory channels' file "Channels.ini": where it lives, how one channel is stored in it,
// and how a channel reads back for the list and for recall. Windows-1251 INI text, one
// section "ChanN" per channel and the count in "Global"/"Total".
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace win32 {
class IniFile;
}

// "Channels.ini" beside the program's executable (programFolder), where an operator's existing
// file can be dropped in. When that folder cannot be written (an installed program), the file
// is $XDG_CONFIG_HOME/PVestra/Channels.ini (~/.config/PVestra/ when the variable is unset).
QString ChannelMemoryPath(const QString& programFolder);
// The same for the running program's own folder.
QString ChannelMemoryPath();

namespace chanfile {

inline constexpr int kMaxChannels = 10000;  // a larger "Total" is taken as this

// The mode names as stored ("Class"); the emission classes are stored by designator.
extern const QString kAM, kTLG, kVBP, kNBP;

QString Section(int n);

// One channel's setting as it is written; keys without a value are not written.
struct StoredChannel {
  QString name;
  int32_t freq = 0;
  std::optional<int> polosa;
  std::optional<QString> mode;
  std::optional<int> ton, vt, dF;
  std::optional<QString> obp;
  std::optional<int> sb, kanTlg;
};

// Erases section "Chan"n, then writes the channel's keys in the order Name, Freq, Polosa,
// Class, Ton, Vt, dF, OBP, SB, KanTLG.
void Write(win32::IniFile& file, int n, const StoredChannel& channel);

// A channel as recall reads it: a key that is missing or not a number gives its default.
struct RecalledChannel {
  int32_t freq = 1000000;
  int polosa = 3000;
  QString mode = kAM;
  int ton = 3001;  // none
  int sb = -1;     // none
  int vt = 0, dF = 0, kanTlg = 0;
  QString obp;
};
RecalledChannel ReadForRecall(const win32::IniFile& file, int n);

// The channel's line in the list, e.g. "Метео F=1000000, П=1000, ТЛГ, Т=1000".
QString ListLine(const win32::IniFile& file, int n);

// "Global"/"Total", 0 when missing or no number, limited to 0 … kMaxChannels.
int ReadTotal(const win32::IniFile& file);
void WriteTotal(win32::IniFile& file, int total);
// Erases the sections of channels 1 … total and section "Global".
void EraseAll(win32::IniFile& file, int total);

// Why a file could not be written, in the operator's words (errno value).
QString WriteErrorText(int error);

}  // namespace chanfile
