// The USB link's rings as the main window drains them: reports and sample blocks put into
// a slot the way the worker puts them there, then the link message that tells of them, so
// each goes through ParseReport, AddSampleBlock, the spectrum's drawing and the IQ window.
// Each entry of the input starts with a tag byte:
//   0: a report (the next 64 bytes) queued, then link event 3;
//   1: a C report (the next 64 bytes) parsed as the worker parses it;
//   2: a sample block (the next 4096 bytes, zeros past the end of the input), then event 4;
//   3: a link event with the code in the next byte (codes that need a device are skipped).
#include <cstdint>
#include <cstring>

#include "app/link/Ureport.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "fuzz/FuzzProgram.h"
#include "fuzz/InputReader.h"

namespace {

template <class Slot>
Slot& NextSlot(Slot* ring, const std::atomic<uint32_t>& writeIndex) {
  return ring[writeIndex.load(std::memory_order_relaxed)];
}

void Advance(std::atomic<uint32_t>& writeIndex) {
  writeIndex.store((writeIndex.load(std::memory_order_relaxed) + 1) % kRingSlots, std::memory_order_release);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::EnsureProgram();
  fuzzsupport::InputReader in(data, size);
  while (!in.empty()) {
    const uint8_t tag = in.Byte() % 4;
    size_t got = 0;
    if (tag == 0 || tag == 1) {
      uint8_t* slot = NextSlot(Usb.ReportRing, Usb.ReportWriteIndex);
      std::memset(slot, 0, kReportSize);
      std::memcpy(slot, in.Take(kReportSize, got), got);
      if (tag == 1) {
        ParseReport(slot);
        continue;
      }
      Advance(Usb.ReportWriteIndex);
      Main->HandleLinkMessage(kLinkReport);
    } else if (tag == 2) {
      int16_t* slot = NextSlot(Usb.BlockRing, Usb.BlockWriteIndex);
      std::memset(slot, 0, kBlockSize);
      std::memcpy(slot, in.Take(kBlockSize, got), got);
      Advance(Usb.BlockWriteIndex);
      Main->HandleLinkMessage(kLinkBlock);
    } else {
      const int code = int8_t(in.Byte());
      // A connection uploads the whole state: the program's own tests cover it, and here it
      // would only slow every input down.
      if (code != kLinkConnected) Main->HandleLinkMessage(code);
    }
  }
  return 0;
}
