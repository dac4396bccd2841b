// The entry point of the spectrum transform library (libFFT.so, loaded by name "FFT.dll").
//
// fft(q, i, n, out1, out2): 512-point complex DFT of x[t] = i[t] + j*q[t], t = 0 ... 511
// (oldest sample first), returned in centred order: entry 256 is zero offset, entry k
// belongs to bin k - 256, so a carrier above the tuned frequency (the receiver mixes it
// to I = cos, Q = sin) lands above entry 256. out1 receives the real parts, out2 the
// imaginary parts. The result is divided by 512, so a carrier of amplitude A (in sample
// units) shows a magnitude of about A in its bin.
//
// Any n other than 512, or a null pointer, leaves the outputs untouched: the caller's
// arrays may be shorter than 512, so nothing is written. The call allocates nothing and
// may run on several threads at once (each call works on its own buffers).
#pragma once

extern "C" void fft(float* q, float* i, int n, float* out1, float* out2);

namespace fftlib {
inline constexpr int kPoints = 512;
}
