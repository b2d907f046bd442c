// Block fill of the FM tone: two oscillators in, 16-bit stereo frames out.
#pragma once

#include "synth/oscillator.h"

// Bytes in one stereo frame: signed 16-bit little-endian left, then right.
constexpr int bytesPerFrame = 4;

// Fill the whole 4-byte frames of `buffer` (length in bytes; a length below 4
// gives no frames and the 1-3 bytes after the last frame are not written).
// Per frame: step lfo, set osc.frequency = 50 + 100 * lfo, step osc, write
// the carrier scaled to a multiple of 100 in -10000..10000.
// Real-time safe: no allocation, no lock, no system call.
void fillBlock(void* buffer, int length, Oscillator& osc, Oscillator& lfo);

// One frame's two samples from the carrier's output, each a multiple of 100
// in -10000..10000 for outputs within +-1. s = output * 100 is exact in
// double; the left channel truncates it as it is, the right channel rounds it
// to float first, so the two differ by one step of 100 in the rare frames
// where that rounding reaches the next integer.
struct StereoSample {
    int left;
    int right;
};

inline StereoSample quantise(float carrierOutput)
{
    const double s = static_cast<double>(carrierOutput) * 100;
    return {static_cast<int>(s) * 100, static_cast<int>(static_cast<float>(s)) * 100};
}

// The carrier law shared by the samples and the trace: Hz from the lfo output.
inline float carrierFrequency(float lfoOutput)
{
    return static_cast<float>(static_cast<double>(lfoOutput) * 100 + 50);
}
