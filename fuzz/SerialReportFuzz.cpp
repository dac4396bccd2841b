// The serial link's frame assembler and the report parser: bytes as they come from the port,
// split into reads of random sizes. The first byte picks the link that carries commands
// (reports act differently on each) and whether a state request is still unanswered; the
// second seeds the split.
#include <cstdint>

#include "app/link/Ucmd.h"
#include "app/link/Ucom.h"
#include "app/link/Ureport.h"
#include "app/panel/Umain.h"
#include "fuzz/FuzzProgram.h"
#include "fuzz/InputReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::EnsureProgram();
  fuzzsupport::InputReader in(data, size);
  const uint8_t flags = in.Byte();
  Main->LinkKind = flags & 1 ? cmd::kLinkUsb : cmd::kLinkSerial;
  if (flags & 2) SerialUploadDone = false;
  uint32_t split = in.Byte() * 2654435761u + 1;
  // A frame left half done by the previous input would make this one depend on it.
  Serial.FrameLength = 0;
  Serial.FrameSum = 0;
  while (!in.empty()) {
    split = split * 1103515245u + 12345u;
    size_t got = 0;
    const uint8_t* chunk = in.Take(1 + (split >> 16) % 48, got);
    Serial.Assemble(chunk, DWORD(got));
  }
  return 0;
}
