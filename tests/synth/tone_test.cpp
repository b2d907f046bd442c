// Block fill: frames, carrier law and quantisation, checked against values
// from the independent reference in reference_tone.py.
#include "synth/tone.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <vector>

namespace {

struct Tone {
    Oscillator osc{1.0f, 440.0f};
    Oscillator lfo{1.0f, 1.0f};
};

std::int16_t sampleAt(const std::vector<unsigned char>& bytes, std::size_t index)
{
    // Little-endian by definition of the stream format, whatever the host.
    return static_cast<std::int16_t>(bytes[index * 2] | (bytes[index * 2 + 1] << 8));
}

std::vector<unsigned char> fill(Tone& tone, int frames)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(frames) * 4);
    fillBlock(bytes.data(), static_cast<int>(bytes.size()), tone.osc, tone.lfo);
    return bytes;
}

std::uint64_t fnv1a(const std::vector<unsigned char>& bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace

TEST(FillBlock, FirstEightFramesFromAFreshStart)
{
    Tone tone;
    const auto bytes = fill(tone, 8);
    const int expected[8] = {0, 100, 200, 200, 300, 400, 400, 500};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(sampleAt(bytes, 2 * i), expected[i]) << "left of frame " << i;
        EXPECT_EQ(sampleAt(bytes, 2 * i + 1), expected[i]) << "right of frame " << i;
    }
    EXPECT_EQ(tone.osc.frequency.load(), 50.11397933959961f);
}

TEST(FillBlock, ThreeSecondsMatchTheReferenceBitForBit)
{
    Tone tone;
    const auto bytes = fill(tone, 3 * 44100);
    EXPECT_EQ(fnv1a(bytes), 0x6ad7977e48b1b4c5ull);
    // The carrier spends part of each lfo cycle below 0 Hz, and its phase is
    // only ever wrapped from above, so it ends negative here.
    EXPECT_EQ(tone.osc.phase, -8.120875358581543f);
    EXPECT_EQ(tone.lfo.phase, 0.9984428286552429f);
    EXPECT_EQ(tone.osc.frequency.load(), 49.02161407470703f);
    EXPECT_EQ(tone.osc.output(), -0.6885460615158081f);
    EXPECT_EQ(tone.lfo.output(), -0.009783847257494926f);
}

TEST(FillBlock, WritesOnlyWholeFrames)
{
    const struct {
        int length;
        int frames;
    } cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 1}, {5, 1}, {6, 1}, {65536, 16384}, {-4, 0}};
    for (const auto& c : cases) {
        Tone tone;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(std::max(c.length, 0)) + 8, 0xAB);
        fillBlock(bytes.data(), c.length, tone.osc, tone.lfo);
        Tone reference;
        const auto expected = fill(reference, c.frames);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin())) << c.length;
        EXPECT_EQ(reference.lfo.phase, tone.lfo.phase) << c.length;
        for (std::size_t i = expected.size(); i < bytes.size(); ++i)
            ASSERT_EQ(bytes[i], 0xAB) << "byte " << i << " past the frames, length " << c.length;
    }
}

TEST(FillBlock, BlocksJoinWithoutASeam)
{
    // Blocks of n then m frames equal one block of n + m frames.
    const struct {
        int n, m;
    } splits[] = {{1, 1}, {7, 441}, {1024, 1024}, {16384, 3}};
    for (const auto& s : splits) {
        Tone whole, parts;
        const auto joined = fill(whole, s.n + s.m);
        auto first = fill(parts, s.n);
        const auto second = fill(parts, s.m);
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ(first, joined) << s.n << "+" << s.m;
        EXPECT_EQ(parts.osc.phase, whole.osc.phase);
        EXPECT_EQ(parts.lfo.phase, whole.lfo.phase);
    }
}

TEST(Quantise, TruncatesLeftAndRoundsRightThroughFloat)
{
    const struct {
        float output;
        int left, right;
    } cases[] = {
        {0.0f, 0, 0},
        {0.01f, 0, 100},   // the float nearest 0.01 is just below it: s = 0.99999998
        {-0.01f, 0, -100},
        {0.0199999f, 100, 100},
        {0.07f, 700, 700},
        {0.5f, 5000, 5000},
        {0.999999f, 9900, 9900},
        {1.0f, 10000, 10000},
        {-1.0f, -10000, -10000},
    };
    for (const auto& c : cases) {
        const StereoSample s = quantise(c.output);
        EXPECT_EQ(s.left, c.left) << c.output;
        EXPECT_EQ(s.right, c.right) << c.output;
    }
}

TEST(FillBlock, NegativeLfoFrequencyStillGivesSamplesInRange)
{
    Tone tone;
    tone.lfo.frequency = -1.0f;
    const auto bytes = fill(tone, 44100);
    for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
        const int v = sampleAt(bytes, i);
        ASSERT_TRUE(v % 100 == 0 && v >= -10000 && v <= 10000) << v;
    }
    EXPECT_LT(tone.lfo.phase, 0.0f);  // runs backwards and is never raised
}
