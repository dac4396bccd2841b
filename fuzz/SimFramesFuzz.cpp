// The simulator's intake of command frames: bytes from the serial line cut into frames by
// its assembler and parsed, and 64-byte buffers from USB handed to the simulator as its
// USB/IP server hands them (settings, DSP program packets, the spectrum-control frame).
// Each entry of the input starts with a tag byte: even, serial bytes (the next byte tells
// how many); odd, one USB buffer of the next 64 bytes. One simulator serves every input (its
// start-up scene costs far more than an input): what an input leaves behind, a half-loaded
// program or a setting, is where the next one starts, as on a receiver that runs on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/InputReader.h"
#include "sim/CommandFrame.h"
#include "sim/Simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static sim::Simulator* simulator = [] {
    sim::SimOptions options;
    options.usb = false;
    options.serial = false;
    return new sim::Simulator(options);
  }();
  sim::UsbIpServer::Events& usb = *simulator;
  sim::FrameAssembler assembler;
  fuzzsupport::InputReader in(data, size);
  while (!in.empty()) {
    const uint8_t tag = in.Byte();
    size_t got = 0;
    if (tag % 2 == 0) {
      const uint8_t* bytes = in.Take(in.Byte(), got);
      for (size_t i = 0; i < got; ++i) {
        if (!assembler.feed(bytes[i])) continue;
        const auto& frame = assembler.frame();
        const sim::ParsedFrame f = sim::parseFrame(frame, false);
        if (f.length > frame.size() || (f.kind != sim::FrameKind::Invalid && f.length == 0)) {
          std::fprintf(stderr, "a parsed frame claims %zu of %zu bytes\n", f.length, frame.size());
          std::abort();
        }
      }
      assembler.takeDropped();
    } else {
      const uint8_t* buffer = in.Take(64, got);
      usb.usbCommand(buffer, got);
    }
  }
  return 0;
}
