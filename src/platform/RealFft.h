#pragma once

#include <cstddef>
#include <vector>

namespace orvanta {

// Forward real FFT of a fixed power-of-two size over FFTW3 (single precision).
// Results follow the packed convention of the original design, whose values are twice the
// mathematical DFT X: for 1 <= k < N/2, packedMagnitudes()[k] = 2·|X_k|, and bin 0 holds
// sqrt((2·X_0)² + (2·X_{N/2})²), DC and Nyquist packed together. Callers apply their own scale.
// One instance per thread; creating instances is thread-safe.
class RealFft {
public:
    // Throws Error (domain "FFT") when the size is not a power of two >= 2 or no plan can be made.
    explicit RealFft(size_t size);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    size_t size() const noexcept { return size_; }

    // input: size() samples; magnitudes: size()/2 values.
    void packedMagnitudes(const float* input, float* magnitudes);

private:
    size_t size_;
    float* in_ = nullptr;
    void* out_ = nullptr;  // fftwf_complex[size/2 + 1]
    void* plan_ = nullptr; // fftwf_plan
};

// Periodic Hann window of length n: w[i] = scale·(1 − cos(2πi/n)), computed in double, stored as float.
std::vector<float> hannWindow(size_t n, double scale);

} // namespace orvanta
