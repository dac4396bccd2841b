// The DSP program loader: the input is a program file. It is read as the loader reads it;
// a refused file must give the operator a message, a ready one is cut into load packets,
// and the receiver's side (the simulator's frame parser and program loader) must put back
// exactly the words the packets carried, in order, from the file's program bytes.
#include <QBuffer>
#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/dsp/UtmsProgram.h"
#include "sim/CommandFrame.h"
#include "sim/DspProgramLoader.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  QBuffer source(&bytes);
  source.open(QIODevice::ReadOnly);
  const dsp::ProgramFile file = dsp::ReadProgram(source);
  if (file.status != dsp::ProgramFileStatus::Ready) {
    if (dsp::RefusalMessage(file, "program.bin").isEmpty()) Fail("a refused file has no message");
    return 0;
  }
  sim::DspProgramLoader receiver;
  std::optional<sim::DspProgramLoader::Loaded> loaded;
  size_t words = 0;
  int lastSent = 0;
  dsp::SendProgram(file, [&](const dsp::LoadPacket& packet, int sent) {
    if (sent < lastSent || sent > file.words) Fail("the progress runs backwards or past the end");
    lastSent = sent;
    const sim::ParsedFrame f = sim::parseFrame(packet, true);
    if (f.kind != sim::FrameKind::DspPacket) Fail("a load packet does not parse as one");
    std::string warning;
    loaded = receiver.packet(f.letter, std::span(packet).subspan(3, 4 * size_t(f.value)), warning);
    if (!warning.empty()) Fail(warning.c_str());
    words += size_t(f.value);
  });
  if (!loaded || loaded->words != words || lastSent != file.words) Fail("the load did not complete");
  const uint8_t* program = file.buffer.data() + dsp::kProgramOffset;
  if (std::memcmp(receiver.program().data(), program, 4 * words) != 0) Fail("the words arrived changed");
  return 0;
}
