#include "platform/RealFft.h"

#include "platform/Error.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

namespace orvanta {

namespace {
// FFTW's planner is not thread-safe; execution of distinct plans is.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}
} // namespace

RealFft::RealFft(size_t size) : size_(size) {
    if (size < 2 || (size & (size - 1)) != 0) {
        throw Error(std::string(domains::fft), 1, "FFT size " + std::to_string(size) + " is not a power of two");
    }
    std::lock_guard lock(plannerMutex());
    in_ = fftwf_alloc_real(size);
    out_ = fftwf_alloc_complex(size / 2 + 1);
    if (in_ != nullptr && out_ != nullptr) {
        plan_ = fftwf_plan_dft_r2c_1d(int(size), in_, static_cast<fftwf_complex*>(out_), FFTW_ESTIMATE);
    }
    if (plan_ == nullptr) {
        fftwf_free(in_);
        fftwf_free(out_);
        throw Error(std::string(domains::fft), 2, "Could not set up an FFT of size " + std::to_string(size));
    }
}

RealFft::~RealFft() {
    std::lock_guard lock(plannerMutex());
    fftwf_destroy_plan(static_cast<fftwf_plan>(plan_));
    fftwf_free(in_);
    fftwf_free(out_);
}

void RealFft::packedMagnitudes(const float* input, float* magnitudes) {
    std::copy(input, input + size_, in_);
    fftwf_execute(static_cast<fftwf_plan>(plan_));
    const auto* out = static_cast<const fftwf_complex*>(out_);
    const size_t half = size_ / 2;
    const float dc = 2.0f * out[0][0];
    const float nyquist = 2.0f * out[half][0];
    magnitudes[0] = std::sqrt(dc * dc + nyquist * nyquist);
    for (size_t k = 1; k < half; ++k) {
        const float re = 2.0f * out[k][0];
        const float im = 2.0f * out[k][1];
        magnitudes[k] = std::sqrt(re * re + im * im);
    }
}

std::vector<float> hannWindow(size_t n, double scale) {
    std::vector<float> window(n);
    for (size_t i = 0; i < n; ++i) {
        window[i] = float(scale * (1.0 - std::cos(2.0 * std::numbers::pi * double(i) / double(n))));
    }
    return window;
}

} // namespace orvanta
