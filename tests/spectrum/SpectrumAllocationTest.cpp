// Counts heap allocations while sample blocks are processed and drawn.
#include "app/spectrum/Uspectr.h"
#include "tests/spectrum/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace {
std::atomic<long> allocations{0};
std::atomic<bool> counting{false};

void* CountedAllocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try { return CountedAllocate(size); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try { return CountedAllocate(size); } catch (...) { return nullptr; }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Allocations made by one call of f, after warm-up calls that fill the toolkit's caches.
template <typename F>
long AllocationsOf(F&& f) {
  for (int warmUp = 0; warmUp < 3; ++warmUp) f();
  allocations = 0;
  counting = true;
  f();
  counting = false;
  return allocations.load();
}

class SpectrumAllocation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQtApplication(); }
  void SetUp() override {
    state->FftEntry = LoadFftEntry();
    ASSERT_NE(state->FftEntry, nullptr);
    WarmUpGlyphs();
  }
  // The toolkit caches each glyph the first time it is drawn; draw every character the
  // readouts can show once, so that later blocks only show what a block itself costs.
  void WarmUpGlyphs() {
    SpectrumFrame frame;
    LayoutSpectrum(*state, SpectrumControls{}, frame);
    const char* all = "0123456789-.FLsd = ГцдБ";
    for (auto* text : {frame.frequencyLabel[0], frame.markerReadout[0], frame.peakReadout[0]})
      std::snprintf(text, SpectrumFrame::kLabelChars, "%s", all);
    std::snprintf(frame.gridLabel[0], sizeof frame.gridLabel[0], "0123456789-");
    PaintSpectrum(frame, images.pictures);
  }
  // A different block every time: a carrier wandering over the band.
  const int16_t* NextBlock() {
    ++blockNumber;
    for (int p = 0; p < kSampleBlockSamples / 2; ++p) {
      block[2 * p] = int16_t((p * blockNumber * 37) % 4000 - 2000);
      block[2 * p + 1] = int16_t((p * blockNumber * 91) % 3000 - 1500);
    }
    return block.data();
  }

  std::unique_ptr<SpectrumState> state = std::make_unique<SpectrumState>();
  SpectrumImages images;
  std::vector<int16_t> block = std::vector<int16_t>(kSampleBlockSamples);
  int blockNumber = 0;
};

SpectrumControls Variant(bool avr, int mashtab, int scaling, int linkKind) {
  SpectrumControls c;
  c.avrDown = avr;
  c.avrCount = 8;
  c.mashtabIndex = mashtab;
  c.scalingIndex = scaling;
  c.bandwidthDown = 5;
  c.linkKind = linkKind;
  return c;
}

const SpectrumControls kVariants[] = {
    Variant(false, 0, 0, 2), Variant(true, 0, 0, 2), Variant(true, 1, 1, 2), Variant(false, 1, 0, 1),
};

// Everything a block computes (ring, transform, magnitudes, averaging, trace, peak, grid,
// labels and readouts) works in fixed storage.
TEST_F(SpectrumAllocation, ComputingABlockAllocatesNothing) {
  for (const SpectrumControls& c : kVariants) {
    SCOPED_TRACE(c.mashtabIndex * 10 + c.avrDown);
    SpectrumFrame frame;
    EXPECT_EQ(AllocationsOf([&] { ProcessSampleBlock(*state, NextBlock(), c); }), 0);
    EXPECT_EQ(AllocationsOf([&] { LayoutSpectrum(*state, c, frame); }), 0);
  }
}

// What a drawn block allocates is the painter's own per-picture setup and the strings of
// the labels and readouts: a fixed amount, whatever the samples, never growing.
TEST_F(SpectrumAllocation, DrawnBlockAllocatesTheSameEveryTime) {
  for (const SpectrumControls& c : kVariants) {
    SCOPED_TRACE(c.mashtabIndex * 10 + c.avrDown);
    SpectrumFrame frame;
    const long painting = AllocationsOf([&] { LayoutSpectrum(*state, c, frame); PaintSpectrum(frame, images.pictures); });
    for (int b = 0; b < 20; ++b)
      ASSERT_EQ(AllocationsOf([&] { AddSampleBlock(*state, NextBlock(), c, images.pictures); }), painting) << b;
  }
}

}  // namespace
