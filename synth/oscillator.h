// Oscillator: a phase-accumulating sine oscillator running at 44,100 Hz.
//
// The phase is kept in cycles (1.0 is one period) and wraps from above only:
// a phase that has gone below zero (negative frequency) is left there, which
// sin() does not mind. Arithmetic follows one rule throughout: every
// expression is evaluated in double from the float fields and rounded to float
// once, when it is stored.
#pragma once

#include <atomic>
#include <cmath>

class Oscillator {
public:
    // amplitude: peak of the output; frequency in Hz (any value, zero and
    // negative included). Phase and phase offset start at 0.
    Oscillator(float amplitudeValue, float frequencyHz)
        : phase(0.0f), phaseOffset(0.0f), amplitude(amplitudeValue), frequency(frequencyHz) {}

    // Advance one sample period, then recompute value.
    inline void step();

    // The value computed by the last step(), within +-amplitude.
    float output() const { return value; }

    float value;        // output of the last step(); unset until the first step
    float phase;        // position in the cycle, in cycles
    float phaseOffset;  // added to phase when the sine is taken, in cycles
    float amplitude;
    // Hz. The key loop and the audio thread both write it with no lock, so it
    // is read and written as one whole 32-bit value (relaxed is enough: no
    // other data is published through it).
    std::atomic<float> frequency;

    static constexpr float sampleRate = 44100.0f;   // the oscillator's own rate, Hz
    static constexpr double cyclesToRadians = 6.2831853;  // deliberately not 2*pi
};

static_assert(std::atomic<float>::is_always_lock_free, "frequency must be a lock-free 32-bit field");
static_assert(sizeof(std::atomic<float>) == 4, "frequency must be a plain 32-bit field");

inline void Oscillator::step()
{
    const double f = frequency.load(std::memory_order_relaxed);
    phase = static_cast<float>(static_cast<double>(phase) + f / static_cast<double>(sampleRate));
    if (phase > 1.0f)
        phase = static_cast<float>(static_cast<double>(phase) - 1.0);
    value = static_cast<float>(
        std::sin((static_cast<double>(phase) + static_cast<double>(phaseOffset)) * cyclesToRadians) *
        static_cast<double>(amplitude));
}
