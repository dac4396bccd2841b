// Counts heap allocations while sample blocks are processed and drawn.
#include "app/spectrum/Uspectr.h"
#include "app/spectrum/UwaterfallRows.h"
#include "tests/spectrum/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

// Every heap allocation is counted: operator new, and the C allocator underneath it that
// the toolkit's strings and images use directly. The sanitizers bring allocators of their
// own, so under them nothing is replaced and the tests skip.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COUNT_ALLOCATIONS 0
#else
#define COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> allocations{0};
thread_local bool counting = false;  // only the thread under test counts

[[maybe_unused]] void Count() {
  if (counting) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) { Count(); return __libc_malloc(size); }
void* calloc(std::size_t n, std::size_t size) { Count(); return __libc_calloc(n, size); }
void* realloc(void* p, std::size_t size) { Count(); return __libc_realloc(p, size); }
void* memalign(std::size_t alignment, std::size_t size) { Count(); return __libc_memalign(alignment, size); }
void* aligned_alloc(std::size_t alignment, std::size_t size) { Count(); return __libc_memalign(alignment, size); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  Count();
  void* p = __libc_memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}

namespace {
void* NewBlock(std::size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;  // counted there
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return NewBlock(size); }
void* operator new[](std::size_t size) { return NewBlock(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

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
    if (!COUNT_ALLOCATIONS) GTEST_SKIP() << "the sanitizer owns the allocator";
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

// A waterfall that takes each block's row writes it into its ring, a change line included.
TEST_F(SpectrumAllocation, AWaterfallRowAllocatesNothing) {
  struct RowsSink : SpectrumRowSink {
    WaterfallRows rows{400};
    void AddSpectrumRow(const double* m, const SpectrumControls& c, int32_t) override {
      rows.AddRow(m, {c.fc, DecimationFactor(c), c.mashtabIndex == 0}, 0);
    }
  } sink;
  for (SpectrumControls c : kVariants) {
    SCOPED_TRACE(c.mashtabIndex * 10 + c.avrDown);
    c.rowSink = &sink;
    EXPECT_EQ(AllocationsOf([&] {
                c.fc += 1000;  // every block a new tuning: a line and a row
                ProcessSampleBlock(*state, NextBlock(), c);
              }),
              0);
  }
  EXPECT_EQ(sink.rows.Info(1).kind, WaterfallRows::Kind::ChangeLine);
}

// What a drawn block allocates is the toolkit's: the painter's setup of each picture, the
// trace polyline and the text of the readouts (strings, shaping), the same as those drawn
// by hand, and nothing more. Grid and labels come from the kept layers.
TEST_F(SpectrumAllocation, DrawnBlockAllocatesOnlyThePaintersTraceAndReadouts) {
  for (const SpectrumControls& c : kVariants) {
    SCOPED_TRACE(c.mashtabIndex * 10 + c.avrDown);
    SpectrumFrame frame;
    LayoutSpectrum(*state, c, frame);
    const long minimum = AllocationsOf([&] {
      for (QImage* image : {&images.spectrData, &images.lScale, &images.spectr, &images.rScale, &images.fScale}) {
        QPainter p(image);
        if (image == &images.spectr) {
          p.drawPolyline(frame.trace, kSpectrumBins);
          if (frame.usbOff) {
            p.setFont(PictureFont());
            DrawTextAt(p, 95, 100, QString::fromUtf8("USB ОТКЛЮЧЕН"));
          }
        }
        if (image == &images.spectrData) {
          p.setFont(PictureFont());
          for (const char* text : {frame.markerReadout[0], frame.markerReadout[1], frame.markerReadout[2],
                                   frame.peakReadout[0], frame.peakReadout[1]})
            DrawTextAt(p, 30, 4, QString::fromUtf8(text));
        }
      }
    });
    for (int b = 0; b < 20; ++b)
      ASSERT_EQ(AllocationsOf([&] { AddSampleBlock(*state, NextBlock(), c, images.pictures); }), minimum) << b;
  }
}

}  // namespace
