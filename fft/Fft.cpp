// 512-point spectrum transform over FFTW (single precision), planned once at load time.
#include "fft/Fft.h"

#include <fftw3.h>

#include <cstring>

namespace {

using fftlib::kPoints;
constexpr int kHalf = kPoints / 2;
constexpr float kScale = 1.0f / kPoints;

// Every call uses buffers of this alignment, so the plan made at load time fits them
// (FFTW's new-array execution needs the same alignment as the planning arrays).
constexpr std::size_t kBufferAlignment = 64;

struct ForwardPlan {
  fftwf_plan plan = nullptr;

  ForwardPlan() {
    auto* in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * kPoints));
    auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * kPoints));
    if (in && out) plan = fftwf_plan_dft_1d(kPoints, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    fftwf_free(in);
    fftwf_free(out);
  }
  // Unloading the library frees FFTW's planner state too; nothing else in the process
  // plans single-precision transforms.
  ~ForwardPlan() {
    if (plan) fftwf_destroy_plan(plan);
    fftwf_cleanup();
  }
  ForwardPlan(const ForwardPlan&) = delete;
  ForwardPlan& operator=(const ForwardPlan&) = delete;
};

// Planned when the library is loaded; planning is not thread-safe, execution is.
const ForwardPlan forwardPlan;

}  // namespace

extern "C" __attribute__((visibility("default"))) void fft(float* q, float* i, int n,
                                                           float* out1, float* out2) {
  if (n != kPoints || !q || !i || !out1 || !out2) return;
  if (!forwardPlan.plan) {
    std::memset(out1, 0, sizeof(float) * kPoints);
    std::memset(out2, 0, sizeof(float) * kPoints);
    return;
  }

  alignas(kBufferAlignment) fftwf_complex in[kPoints];
  alignas(kBufferAlignment) fftwf_complex out[kPoints];
  for (int t = 0; t < kPoints; ++t) {
    in[t][0] = i[t];
    in[t][1] = q[t];
  }
  fftwf_execute_dft(forwardPlan.plan, in, out);

  // Centre the spectrum: negative offsets (upper half of the DFT) go first.
  for (int k = 0; k < kPoints; ++k) {
    const int bin = (k + kHalf) % kPoints;
    out1[k] = out[bin][0] * kScale;
    out2[k] = out[bin][1] * kScale;
  }
}
