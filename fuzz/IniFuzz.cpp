// The INI reader and writer: the input is a file as it may lie on disk. It is read, every
// value it gave is written into a new file, and that file is read again: the second reading
// must give the same sections, keys and values in the same order.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/win32/IniFile.h"

namespace {

struct Snapshot {
  QStringList sections;
  std::vector<QStringList> keys;
  std::vector<QStringList> values;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const win32::IniFile& ini) {
  Snapshot s;
  s.sections = ini.Sections();
  for (const QString& section : s.sections) {
    s.keys.push_back(ini.Keys(section));
    QStringList values;
    for (const QString& key : s.keys.back()) values << ini.ReadString(section, key);
    s.values.push_back(values);
  }
  return s;
}

const QTemporaryDir& Folder() {
  // In memory where there is such a place: every write is flushed to its disk.
  static QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/pvestra-fuzz-ini-XXXXXX"
                                                     : QDir::tempPath() + "/pvestra-fuzz-ini-XXXXXX");
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString original = Folder().filePath("original.ini");
  const QString copy = Folder().filePath("copy.ini");
  QFile::remove(copy);
  {
    QFile f(original);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    f.write(reinterpret_cast<const char*>(data), qint64(size));
  }
  const win32::IniFile first(original);
  const Snapshot read = Take(first);
  {
    win32::IniFile out(copy);
    win32::IniFile::Batch batch(out);
    for (qsizetype i = 0; i < read.sections.size(); ++i)
      for (qsizetype k = 0; k < read.keys[size_t(i)].size(); ++k)
        out.WriteString(read.sections[i], read.keys[size_t(i)][k], read.values[size_t(i)][k]);
  }
  const Snapshot reread = Take(win32::IniFile(copy));
  // A section without keys is not written back: nothing of it can be read.
  Snapshot expected;
  for (qsizetype i = 0; i < read.sections.size(); ++i) {
    if (read.keys[size_t(i)].isEmpty()) continue;
    expected.sections << read.sections[i];
    expected.keys.push_back(read.keys[size_t(i)]);
    expected.values.push_back(read.values[size_t(i)]);
  }
  if (!(reread == expected)) {
    std::fprintf(stderr, "the values read differ after writing them and reading them again\n");
    std::abort();
  }
  return 0;
}
