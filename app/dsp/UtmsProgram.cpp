#include "app/dsp/UtmsProgram.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "app/link/Ucmd.h"

namespace dsp {

ProgramFile ReadProgramFile(const QString& path) {
  if (path.isEmpty() || !QFileInfo::exists(path)) return {};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ProgramFile f;
    f.status = ProgramFileStatus::Unreadable;
    f.error = file.errorString();
    return f;
  }
  return ReadProgram(file);
}

ProgramFile ReadProgram(QIODevice& source) {
  ProgramFile f;
  // One byte past the buffer tells a file that does not fit, whatever size it claims.
  qint64 got = 0;
  char probe = 0;
  while (got < qint64(kProgramBufferSize)) {
    const qint64 n = source.read(reinterpret_cast<char*>(f.buffer.data()) + got, qint64(kProgramBufferSize) - got);
    if (n < 0) {
      f.status = ProgramFileStatus::Unreadable;
      f.error = source.errorString();
      return f;
    }
    if (n == 0) break;
    got += n;
  }
  if (got == qint64(kProgramBufferSize) && source.read(&probe, 1) == 1) {
    f.status = ProgramFileStatus::TooLong;
    return f;
  }
  f.length = f.buffer[2] | (f.buffer[3] << 8);
  f.words = WordsToSend(f.length);
  if (f.length > kMaxProgramLength) {
    f.status = ProgramFileStatus::PastBufferEnd;
    return f;
  }
  f.status = ProgramFileStatus::Ready;
  return f;
}

QString RefusalMessage(const ProgramFile& file, const QString& path) {
  switch (file.status) {
    case ProgramFileStatus::Unreadable:
      return QString("Не удалось прочитать файл программы\n%1\n%2").arg(path, file.error);
    case ProgramFileStatus::TooLong:
      return QString("Файл программы длиннее %1 байт, программа не загружена:\n%2").arg(kProgramBufferSize).arg(path);
    case ProgramFileStatus::PastBufferEnd:
      return QString("Длина программы в файле (%1) больше допустимой (%2), программа не загружена:\n%3")
          .arg(file.length)
          .arg(kMaxProgramLength)
          .arg(path);
    case ProgramFileStatus::Ready:
    case ProgramFileStatus::NoFile:
      break;
  }
  return {};
}

LoadPacket BuildLoadPacket(char letter, int words, const uint8_t* data) {
  LoadPacket p{};
  p[0] = cmd::STX;
  p[1] = uint8_t(letter);
  p[2] = uint8_t(words);
  std::memcpy(&p[3], data, size_t(4 * words));
  p[3 + 4 * size_t(words)] = cmd::ETX;
  return p;
}

void SendProgram(const ProgramFile& file, const std::function<void(const LoadPacket&, int sent)>& send) {
  const int W = file.words;
  int P = 0;
  const uint8_t* next = file.buffer.data() + kProgramOffset;
  auto packet = [&](char letter, int words, int sent) {
    send(BuildLoadPacket(letter, words, next), sent);
    next += 4 * words;
  };
  packet(kFirstPacket, kPacketWords, std::min(kPacketWords, W));
  P = std::min(P + kPacketWords, W);
  while (W - P > kPacketWords) {
    P += kPacketWords;
    packet(kMiddlePacket, kPacketWords, P);
  }
  packet(kLastPacket, W - P, W);
}

}  // namespace dsp
