#include "synth/tone.h"

#include <cstdint>

namespace {

// Store a signed 16-bit sample little-endian whatever the host's byte order.
inline void storeSample(unsigned char* at, int sample)
{
    const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(sample));
    at[0] = static_cast<unsigned char>(bits & 0xFF);
    at[1] = static_cast<unsigned char>(bits >> 8);
}

}  // namespace

void fillBlock(void* buffer, int length, Oscillator& osc, Oscillator& lfo)
{
    auto* out = static_cast<unsigned char*>(buffer);
    const int frames = length >> 2;
    for (int i = 0; i < frames; ++i, out += bytesPerFrame) {
        lfo.step();
        osc.frequency.store(carrierFrequency(lfo.output()), std::memory_order_relaxed);
        osc.step();
        const StereoSample sample = quantise(osc.output());
        storeSample(out, sample.left);
        storeSample(out + 2, sample.right);
    }
}
