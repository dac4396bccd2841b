// The transform library as the program uses it: loaded by path, called through "fft".
#include "tests/fft/FftLibraryPath.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using FftEntryPoint = void (*)(float*, float*, int, float*, float*);

constexpr int kPoints = 512;
constexpr double kSampleRate = 11070.0;  // pairs per second: 512 bins span 11070 Hz

class FftLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(FftLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) fft_ = reinterpret_cast<FftEntryPoint>(dlsym(handle_, "fft"));
  }
  static void TearDownTestSuite() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
    fft_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(fft_, nullptr) << "libFFT.so or its symbol fft is missing: " << dlerror(); }

  // A carrier offset from the tuned frequency, mixed as the receiver mixes it.
  static void Carrier(double offsetHz, double amplitude, float* q, float* i) {
    for (int t = 0; t < kPoints; ++t) {
      const double phase = 2 * std::numbers::pi * offsetHz * t / kSampleRate;
      i[t] = static_cast<float>(amplitude * std::cos(phase));
      q[t] = static_cast<float>(amplitude * std::sin(phase));
    }
  }
  static std::vector<double> Magnitudes(const float* out1, const float* out2) {
    std::vector<double> m(kPoints);
    for (int k = 0; k < kPoints; ++k) m[k] = std::hypot(double(out1[k]), double(out2[k]));
    return m;
  }
  static int PeakBin(const std::vector<double>& m) {
    return int(std::max_element(m.begin(), m.end()) - m.begin());
  }

  static inline void* handle_ = nullptr;
  static inline FftEntryPoint fft_ = nullptr;
};

TEST_F(FftLibrary, CarrierLandsInItsBinOnTheCorrectSide) {
  struct Case { double offsetHz; };
  for (const Case c : {Case{2000}, Case{-2000}, Case{0}, Case{5000}, Case{-5400}, Case{30}}) {
    SCOPED_TRACE(c.offsetHz);
    float q[kPoints], i[kPoints], out1[kPoints], out2[kPoints];
    Carrier(c.offsetHz, 1000, q, i);
    fft_(q, i, kPoints, out1, out2);
    const int expected = 256 + int(std::lround(c.offsetHz * kPoints / kSampleRate));
    EXPECT_NEAR(PeakBin(Magnitudes(out1, out2)), expected, 1);
  }
}

TEST_F(FftLibrary, ResultIsScaledToTheSampleAmplitude) {
  // A carrier exactly on bin 256 + 10 puts all its energy into that one bin.
  float q[kPoints], i[kPoints], out1[kPoints], out2[kPoints];
  Carrier(10 * kSampleRate / kPoints, 1000, q, i);
  fft_(q, i, kPoints, out1, out2);
  const std::vector<double> m = Magnitudes(out1, out2);
  EXPECT_NEAR(m[266], 1000.0, 0.5);
  EXPECT_LT(m[265], 0.5);
  EXPECT_LT(m[267], 0.5);
}

TEST_F(FftLibrary, ZeroInputGivesZeroSpectrum) {
  float q[kPoints] = {}, i[kPoints] = {}, out1[kPoints], out2[kPoints];
  std::fill(std::begin(out1), std::end(out1), 7.0f);
  std::fill(std::begin(out2), std::end(out2), 7.0f);
  fft_(q, i, kPoints, out1, out2);
  EXPECT_TRUE(std::all_of(std::begin(out1), std::end(out1), [](float v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(std::begin(out2), std::end(out2), [](float v) { return v == 0; }));
}

TEST_F(FftLibrary, OtherPointCountsLeaveTheOutputsUntouched) {
  for (int n : {0, -1, 1, 256, 511, 513, 1024}) {
    SCOPED_TRACE(n);
    // Arrays only as long as the count the caller claims (at least one entry); a write
    // beyond them shows up under AddressSanitizer.
    const std::size_t size = std::max(n, 1);
    std::vector<float> q(size, 1.0f), i(size, 1.0f), out1(size, 7.0f), out2(size, 7.0f);
    fft_(q.data(), i.data(), n, out1.data(), out2.data());
    EXPECT_TRUE(std::all_of(out1.begin(), out1.end(), [](float v) { return v == 7.0f; }));
    EXPECT_TRUE(std::all_of(out2.begin(), out2.end(), [](float v) { return v == 7.0f; }));
  }
}

TEST_F(FftLibrary, NullArraysAreIgnored) {
  // A call with any array missing returns without a crash and writes nothing into the
  // arrays it was given.
  float q[kPoints] = {}, i[kPoints] = {}, out1[kPoints], out2[kPoints];
  auto untouched = [](const float* out) { return std::all_of(out, out + kPoints, [](float v) { return v == 7.0f; }); };
  struct Call { const char* missing; float *q, *i, *out1, *out2; };
  const Call calls[] = {
      {"q", nullptr, i, out1, out2}, {"i", q, nullptr, out1, out2},
      {"out1", q, i, nullptr, out2}, {"out2", q, i, out1, nullptr},
  };
  for (const Call& c : calls) {
    std::fill(std::begin(out1), std::end(out1), 7.0f);
    std::fill(std::begin(out2), std::end(out2), 7.0f);
    fft_(c.q, c.i, kPoints, c.out1, c.out2);
    EXPECT_TRUE(untouched(out1)) << c.missing;
    EXPECT_TRUE(untouched(out2)) << c.missing;
  }
}

TEST_F(FftLibrary, ConcurrentCallsGiveTheSameResultAsOneCall) {
  float q[kPoints], i[kPoints], ref1[kPoints], ref2[kPoints];
  Carrier(1234, 500, q, i);
  fft_(q, i, kPoints, ref1, ref2);

  auto worker = [&](bool* same) {
    float qq[kPoints], ii[kPoints], o1[kPoints], o2[kPoints];
    std::copy(std::begin(q), std::end(q), qq);
    std::copy(std::begin(i), std::end(i), ii);
    *same = true;
    for (int round = 0; round < 200; ++round) {
      fft_(qq, ii, kPoints, o1, o2);
      *same = *same && std::equal(o1, o1 + kPoints, ref1) && std::equal(o2, o2 + kPoints, ref2);
    }
  };
  bool same1 = false, same2 = false;
  std::thread a(worker, &same1), b(worker, &same2);
  a.join();
  b.join();
  EXPECT_TRUE(same1);
  EXPECT_TRUE(same2);
}

}  // namespace
