// The composer's sound-making toolkit: sines, powers of two, noise, simple filters and the
// conversion of a synthesised wave into sample values.
//
// Everything here uses only the four basic operations on doubles (no library sin, exp or
// pow, whose last bits differ between libraries and processors), so that the module the
// composer writes is the same byte for byte on every machine that builds it.
#pragma once

#include <cstdint>
#include <vector>

namespace tessivane::composer {

inline constexpr double PI = 3.14159265358979323846;
inline constexpr double TWO_PI = 2.0 * PI;

// sin(x) to within a few units in the last place, for any x of a sensible size (|x| < 1e6).
double sine(double x);
// 2^x for -1000 < x < 1000, to within a few units in the last place.
double power2(double x);
// e^(-t / tau): a decay that falls to 1/e after tau (same units as t; tau > 0).
double decay(double t, double tau);

// A repeatable white-noise source: a 32-bit linear congruential generator.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    // A uniform value in [-1, 1).
    double next();
    // A uniform value in [0, 1).
    double unit();

private:
    std::uint32_t state_;
};

// A one-pole low-pass filter; the high-pass is the input minus the low-pass.
class OnePole {
public:
    // cutoff and rate in Hz (0 < cutoff < rate / 2).
    OnePole(double cutoff, double rate);
    double lowPass(double in);
    double highPass(double in) { return in - lowPass(in); }

private:
    double coefficient_;
    double state_ = 0.0;
};

// A gentle saturation, odd and monotonic, close to x for small x, tending to +-1.
double softClip(double x);

// The largest absolute value of wave (0 for an empty wave).
double peak(const std::vector<double>& wave);
// Scales wave so that its peak is target (nothing for a silent wave).
void normalise(std::vector<double>& wave, double target);

// A value in [-1, 1] as a 16-bit sample value, rounded to nearest and limited.
std::int16_t toSixteenBits(double value);
// A value in [-1, 1] as a sample value that 8-bit data can hold (a multiple of 256),
// rounded to nearest and limited.
std::int16_t toEightBits(double value);

} // namespace tessivane::composer
