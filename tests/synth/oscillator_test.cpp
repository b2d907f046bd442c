// Oscillator: phase accumulation, wrapping and the sine's constant.
#include "synth/oscillator.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Oscillator, ConstructsWithZeroPhaseAndOffset)
{
    Oscillator osc(0.5f, 440.0f);
    EXPECT_EQ(osc.phase, 0.0f);
    EXPECT_EQ(osc.phaseOffset, 0.0f);
    EXPECT_EQ(osc.amplitude, 0.5f);
    EXPECT_EQ(osc.frequency.load(), 440.0f);
}

TEST(Oscillator, FirstStepTakesTheSineAfterThePhaseHasMoved)
{
    Oscillator osc(1.0f, 11025.0f);  // a quarter cycle per step
    osc.step();
    EXPECT_EQ(osc.phase, 0.25f);
    EXPECT_EQ(osc.output(), 1.0f);
}

TEST(Oscillator, UsesTheShortenedTwoPiConstant)
{
    // Half a cycle: sin(0.5 * 6.2831853) is 3.59e-9, where a true 2*pi would
    // give 1.2e-16. The float results differ, so the constant shows.
    Oscillator osc(1.0f, 22050.0f);
    osc.step();
    ASSERT_EQ(osc.phase, 0.5f);
    EXPECT_EQ(osc.output(), static_cast<float>(std::sin(0.5 * 6.2831853)));
    EXPECT_NE(osc.output(), static_cast<float>(std::sin(0.5 * 2 * M_PI)));
}

TEST(Oscillator, AmplitudeScalesTheOutput)
{
    Oscillator osc(0.25f, 11025.0f);
    osc.step();
    EXPECT_EQ(osc.output(), 0.25f);
}

struct WrapCase {
    const char* name;
    float phaseBefore;
    float frequency;
    float phaseAfter;
};

class OscillatorWrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(OscillatorWrap, WrapsFromAboveOnlyAndOnce)
{
    const WrapCase& c = GetParam();
    Oscillator osc(1.0f, c.frequency);
    osc.phase = c.phaseBefore;
    osc.step();
    EXPECT_EQ(osc.phase, c.phaseAfter) << c.name;
}

// Expected phases are the float sums worked by hand: (before + f/44100) rounded
// to float, minus 1.0 rounded to float when above 1.0.
INSTANTIATE_TEST_SUITE_P(
    Cases, OscillatorWrap,
    ::testing::Values(
        WrapCase{"crosses 1.0 and wraps", 0.75f, 22050.0f, 0.25f},
        WrapCase{"lands exactly on 1.0 and stays", 0.5f, 22050.0f, 1.0f},
        WrapCase{"far above wraps only once", 2.5f, 22050.0f, 2.0f},
        WrapCase{"negative frequency goes below zero and stays", 0.0f, -22050.0f, -0.5f},
        WrapCase{"far below zero is never raised", -3.0f, -11025.0f, -3.25f},
        WrapCase{"zero frequency stands still", 0.375f, 0.0f, 0.375f}),
    [](const ::testing::TestParamInfo<WrapCase>& param) { return "case" + std::to_string(param.index); });
