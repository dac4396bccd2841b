// Saves channels into the channel file given, one after another without end, as the memory
// window's "save as a new channel" does (the channel and the new count in one write), and
// prints the number of each save once it is on disk. ChanCrashTest kills it at random moments.
#include <cstdio>

#include "app/memory/UchanFile.h"
#include "platform/win32/IniFile.h"
#include "tests/memory/ChanSaveLoop.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  win32::IniFile file(QString::fromLocal8Bit(argv[1]));
  for (int total = chanfile::ReadTotal(file);;) {
    win32::IniFile::Batch batch(file);
    ++total;
    chanfile::Write(file, total, NumberedChannel(total));
    chanfile::WriteTotal(file, total);
    if (!file.Flush()) return 1;
    std::printf("%d\n", total);
    std::fflush(stdout);
  }
}
