#include "app/memory/UchanFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/controls/FormStorage.h"
#include "platform/win32/IniFile.h"

namespace {

const QString kFileName = QStringLiteral("Channels.ini");

bool FolderWritable(const QString& folder) {
  // The effective user decides, as it does for the write itself.
  return !folder.isEmpty() && ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

QString ChannelMemoryPath(const QString& programFolder) {
  if (FolderWritable(programFolder)) return programFolder + '/' + kFileName;
  return QFileInfo(InitializationFilePath()).absolutePath() + '/' + kFileName;
}

QString ChannelMemoryPath() { return ChannelMemoryPath(QCoreApplication::applicationDirPath()); }

namespace chanfile {

const QString kAM = QStringLiteral("АМ");
const QString kTLG = QStringLiteral("ТЛГ");
const QString kVBP = QStringLiteral("ВБП");
const QString kNBP = QStringLiteral("НБП");

namespace {

const QString kGlobal = QStringLiteral("Global");
const QString kTotal = QStringLiteral("Total");
const QString kName = QStringLiteral("Name"), kFreq = QStringLiteral("Freq"), kPolosa = QStringLiteral("Polosa"),
              kClass = QStringLiteral("Class"), kTon = QStringLiteral("Ton"), kVt = QStringLiteral("Vt"),
              kdF = QStringLiteral("dF"), kOBP = QStringLiteral("OBP"), kSB = QStringLiteral("SB"),
              kKanTLG = QStringLiteral("KanTLG");

}  // namespace

QString Section(int n) { return QStringLiteral("Chan") + QString::number(n); }

void Write(win32::IniFile& file, int n, const StoredChannel& c) {
  const QString s = Section(n);
  win32::IniFile::Batch batch(file);
  file.EraseSection(s);
  file.WriteString(s, kName, c.name);
  file.WriteInteger(s, kFreq, c.freq);
  auto number = [&](const QString& key, const std::optional<int>& v) {
    if (v) file.WriteInteger(s, key, *v);
  };
  auto text = [&](const QString& key, const std::optional<QString>& v) {
    if (v) file.WriteString(s, key, *v);
  };
  number(kPolosa, c.polosa);
  text(kClass, c.mode);
  number(kTon, c.ton);
  number(kVt, c.vt);
  number(kdF, c.dF);
  text(kOBP, c.obp);
  number(kSB, c.sb);
  number(kKanTLG, c.kanTlg);
}

RecalledChannel ReadForRecall(const win32::IniFile& file, int n) {
  const QString s = Section(n);
  RecalledChannel c;
  auto number = [&](const QString& key, auto& field) { field = file.ReadInteger(s, key).value_or(field); };
  number(kFreq, c.freq);
  number(kPolosa, c.polosa);
  c.mode = file.ReadString(s, kClass, c.mode);
  number(kTon, c.ton);
  number(kSB, c.sb);
  number(kVt, c.vt);
  number(kdF, c.dF);
  c.obp = file.ReadString(s, kOBP);
  number(kKanTLG, c.kanTlg);
  return c;
}

QString ListLine(const win32::IniFile& file, int n) {
  const QString s = Section(n);
  auto number = [&](const QString& key, int fallback) { return file.ReadInteger(s, key).value_or(fallback); };
  QString line = file.ReadString(s, kName, QStringLiteral("---"));
  line += QStringLiteral(" F=") + QString::number(number(kFreq, 1000000));
  line += QStringLiteral(", П=") + QString::number(number(kPolosa, 3000));
  line += QStringLiteral(", ") + file.ReadString(s, kClass, QStringLiteral("---"));
  if (const int ton = number(kTon, 3001); ton != 3001) line += QStringLiteral(", Т=") + QString::number(ton);
  if (const int vt = number(kVt, 0); vt != 0) line += QStringLiteral(", V=") + QString::number(vt);
  if (const int dF = number(kdF, 0); dF != 0) line += QStringLiteral(", D=") + QString::number(dF);
  if (const QString obp = file.ReadString(s, kOBP); !obp.isEmpty()) line += QStringLiteral(", ") + obp;
  if (const int kan = number(kKanTLG, 0); kan != 0) line += QStringLiteral(", K") + QString::number(kan);
  return line;
}

int ReadTotal(const win32::IniFile& file) {
  return std::clamp(file.ReadInteger(kGlobal, kTotal).value_or(0), 0, kMaxChannels);
}

void WriteTotal(win32::IniFile& file, int total) { file.WriteInteger(kGlobal, kTotal, total); }

void EraseAll(win32::IniFile& file, int total) {
  win32::IniFile::Batch batch(file);
  for (int n = 1; n <= total; ++n) file.EraseSection(Section(n));
  file.EraseSection(kGlobal);
}

QString WriteErrorText(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return QStringLiteral("нет прав на запись в папку или на чтение файла");
    case EROFS:
      return QStringLiteral("файловая система открыта только для чтения");
    case ENOSPC:
      return QStringLiteral("на диске нет места");
    case EDQUOT:
      return QStringLiteral("исчерпана дисковая квота");
    case EFBIG:
      return QStringLiteral("превышен допустимый размер файла");
    case ENOENT:
    case ENOTDIR:
      return QStringLiteral("папка файла не существует");
    case EIO:
      return QStringLiteral("ошибка ввода-вывода");
    default:
      return QString::fromLocal8Bit(std::strerror(error));
  }
}

}  // namespace chanfile
