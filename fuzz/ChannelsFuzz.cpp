// "Channels.ini" as it may lie on disk: the memory window opens it (which builds the list),
// then recalls the channels it names and a few it does not, which sets the main window's
// controls and the class window and sends the commands (to a port that goes nowhere).
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "app/memory/Uchan.h"
#include "fuzz/FuzzProgram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::EnsureProgram();
  static QTemporaryDir folder;
  const QString path = folder.filePath("Channels.ini");
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    f.write(reinterpret_cast<const char*>(data), qint64(size));
  }
  Chan->OpenChannelFile(path);
  // The channels the file claims, at most a few (a recall costs more than the parsing), and
  // the numbers around them that it may not hold.
  const int last = std::min(Chan->ChannelCount, 6);
  for (int n = -1; n <= last + 1; ++n) Chan->RecallChannel(n);
  return 0;
}
