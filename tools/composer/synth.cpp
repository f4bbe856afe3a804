#include "synth.h"

#include <cmath>

namespace tessivane::composer {

namespace {

constexpr double HALF_PI = PI / 2.0;
constexpr double LN2 = 0.69314718055994530942;

// 1 / n!, worked out by the compiler: the same constants on every machine.
constexpr double inverseFactorial(int n) {
    double value = 1.0;
    for (int k = 2; k <= n; ++k) {
        value /= k;
    }
    return value;
}

} // namespace

double sine(double x) {
    // Down to [-pi, pi], then to [-pi/2, pi/2] by sin(pi - r) = sin(r).
    double r = x - std::floor(x / TWO_PI + 0.5) * TWO_PI;
    if (r > HALF_PI) {
        r = PI - r;
    } else if (r < -HALF_PI) {
        r = -PI - r;
    }
    // The Taylor series to r^19: the first term left out is below 1e-16 at pi/2.
    const double r2 = r * r;
    double sum = 0.0;
    for (int n = 19; n >= 3; n -= 2) {
        const double term = ((n - 1) / 2) % 2 == 0 ? inverseFactorial(n) : -inverseFactorial(n);
        sum = (sum + term) * r2;
    }
    return r + r * sum;
}

double power2(double x) {
    // 2^x = 2^n * e^(f ln 2) with n whole and f in [0, 1); the series for e^y with y < 0.7
    // needs 20 terms to reach the last place.
    const double n = std::floor(x);
    const double y = (x - n) * LN2;
    double sum = 0.0;
    for (int k = 20; k >= 1; --k) {
        sum = (sum + inverseFactorial(k)) * y;
    }
    return std::ldexp(1.0 + sum, static_cast<int>(n));
}

double decay(double t, double tau) {
    return power2(-t / (tau * LN2));
}

double Noise::next() {
    return unit() * 2.0 - 1.0;
}

double Noise::unit() {
    state_ = state_ * 1664525u + 1013904223u;
    // The top 24 bits: the low bits of such a generator repeat quickly.
    return static_cast<double>(state_ >> 8) / 16777216.0;
}

OnePole::OnePole(double cutoff, double rate)
    : coefficient_(1.0 - decay(TWO_PI * cutoff / rate, 1.0)) {}

double OnePole::lowPass(double in) {
    state_ += coefficient_ * (in - state_);
    return state_;
}

double softClip(double x) {
    // A rational curve that follows tanh closely and reaches +-1 at +-3 with zero slope.
    if (x >= 3.0) {
        return 1.0;
    }
    if (x <= -3.0) {
        return -1.0;
    }
    const double x2 = x * x;
    return x * (27.0 + x2) / (27.0 + 9.0 * x2);
}

double peak(const std::vector<double>& wave) {
    double top = 0.0;
    for (double v : wave) {
        top = std::fabs(v) > top ? std::fabs(v) : top;
    }
    return top;
}

void normalise(std::vector<double>& wave, double target) {
    const double top = peak(wave);
    if (top == 0.0) {
        return;
    }
    const double gain = target / top;
    for (double& v : wave) {
        v *= gain;
    }
}

std::int16_t toSixteenBits(double value) {
    const double scaled = std::floor(value * 32767.0 + 0.5);
    return static_cast<std::int16_t>(scaled > 32767.0    ? 32767
                                     : scaled < -32768.0 ? -32768
                                                         : scaled);
}

std::int16_t toEightBits(double value) {
    const double scaled = std::floor(value * 127.0 + 0.5);
    const int high = scaled > 127.0 ? 127 : scaled < -128.0 ? -128 : static_cast<int>(scaled);
    return static_cast<std::int16_t>(high * 256);
}

} // namespace tessivane::composer
