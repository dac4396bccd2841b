// The knob's two stored forms as a container hands them back: the stream (first byte even)
// and the property bag (first byte odd), the bag's items described by the input. A load that
// fails must leave every property as it was; one that succeeds must save what it loaded, so
// a second knob loading that saved stream ends up saving the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/InputReader.h"
#include "knob/MirtalCtrl.h"
#include "platform/ole/PropExchange.h"
#include "tests/platform/ole/QtApp.h"

namespace {

// Names the control stores, and one it does not.
const char* const kNames[] = {"Step", "BigStep", "Kind", "UpRange", "DNRange", "Background",
                              "ShowToolTip", "ToolTipText", "Timer", "_ExtentX", "_ExtentY", "Other"};

ole::Variant ReadVariant(fuzzsupport::InputReader& in) {
  const uint8_t type = in.Byte() % 5;
  uint32_t raw = 0;
  for (int i = 0; i < 4; ++i) raw = raw << 8 | in.Byte();
  switch (type) {
    case 0: return ole::Variant(bool(raw & 1));
    case 1: return ole::Variant(std::int16_t(raw));
    case 2: return ole::Variant(std::int32_t(raw));
    case 3: {
      size_t got = 0;
      const uint8_t* text = in.Take(raw % 40, got);
      return ole::Variant(std::string(reinterpret_cast<const char*>(text), got));
    }
    default: return ole::Variant();
  }
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  testing_qt::EnsureApplication();
  static auto* knob = new mirtal::MirtalCtrl;
  static auto* second = new mirtal::MirtalCtrl;
  static bool fresh = (knob->InitNew(), second->InitNew(), true);
  (void)fresh;
  fuzzsupport::InputReader in(data, size);
  const bool stream = in.Byte() % 2 == 0;
  const std::vector<std::uint8_t> before = knob->SaveToStream();
  ole::HRESULT hr;
  if (stream) {
    size_t got = 0;
    const uint8_t* bytes = in.Take(in.remaining(), got);
    hr = knob->LoadFromStream(std::span(bytes, got));
  } else {
    ole::MemoryPropertyBag bag;
    while (!in.empty()) {
      const char* name = kNames[in.Byte() % std::size(kNames)];
      bag.Write(name, ReadVariant(in));
    }
    hr = knob->LoadFromBag(bag);
  }
  const std::vector<std::uint8_t> after = knob->SaveToStream();
  if (hr < 0) {
    if (after != before) Fail("a failed load changed the knob");
    return 0;
  }
  if (second->LoadFromStream(after) < 0) Fail("the knob cannot load what it saved");
  if (second->SaveToStream() != after) Fail("the saved stream does not survive a load");
  return 0;
}
