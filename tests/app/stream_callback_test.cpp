// The stream callback against the plain sequence it stands for: clear, fill
// the samples, walk the trace and plot every point. Pictures that have not
// changed are not redrawn, so the window, the samples and every oscillator
// field must still come out bit for bit as the plain sequence leaves them.
#include "app/globals.h"
#include "app/stream_callback.h"
#include "display/surface.h"
#include "display/trace.h"
#include "synth/tone.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::uint32_t bitsOf(float value)
{
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

class StreamCallback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);  // a real screen surface, no display
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        screen = SDL_SetVideoMode(640, 480, 32, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
    }

    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override
    {
        ownOsc = std::make_unique<Oscillator>(1.0f, 440.0f);
        ownLfo = std::make_unique<Oscillator>(1.0f, 1.0f);
        osc = ownOsc.get();
        lfo = ownLfo.get();
        forgetTrace();
        reference = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, screen->format->Rmask,
                                         screen->format->Gmask, screen->format->Bmask, 0);
        ASSERT_NE(reference, nullptr);
    }

    void TearDown() override { SDL_FreeSurface(reference); }

    // One block the plain way, on the reference oscillators and surface.
    void plainBlock(std::vector<unsigned char>& samples)
    {
        clearSurface(reference);
        fillBlock(samples.data(), static_cast<int>(samples.size()), refOsc, refLfo);
        walkTrace(refOsc, refLfo, [this](int x, int y) { putPixel(reference, x, y, 0x00FFFFFF); });
    }

    void expectSameAsPlain(int block)
    {
        for (int y = 0; y < 480; ++y)
            ASSERT_EQ(std::memcmp(static_cast<Uint8*>(screen->pixels) + y * screen->pitch,
                                  static_cast<Uint8*>(reference->pixels) + y * reference->pitch, 640 * 4),
                      0)
                << "row " << y << " after block " << block;
        EXPECT_EQ(bitsOf(osc->phase), bitsOf(refOsc.phase)) << block;
        EXPECT_EQ(bitsOf(lfo->phase), bitsOf(refLfo.phase)) << block;
        EXPECT_EQ(bitsOf(osc->frequency.load()), bitsOf(refOsc.frequency.load())) << block;
        EXPECT_EQ(bitsOf(osc->value), bitsOf(refOsc.value)) << block;
        EXPECT_EQ(bitsOf(lfo->value), bitsOf(refLfo.value)) << block;
    }

    std::unique_ptr<Oscillator> ownOsc, ownLfo;
    Oscillator refOsc{1.0f, 440.0f}, refLfo{1.0f, 1.0f};
    SDL_Surface* reference = nullptr;
};

}  // namespace

TEST_F(StreamCallback, MatchesThePlainSequenceBlockAfterBlock)
{
    // Rates as keys would set them between blocks: repeats (pictures reused),
    // changes, a return to an earlier rate, zero and negative, and an
    // amplitude change that alters the picture without touching the rate.
    const struct {
        float lfoHz;
        float oscAmplitude;
    } blocks[] = {{1, 1}, {1, 1}, {1, 1}, {2, 1}, {2, 1}, {1, 1}, {0, 1}, {0, 1}, {-1, 1}, {-1, 0.5f}, {-1, 0.5f}};
    std::vector<unsigned char> samples(551 * 4), plainSamples(551 * 4);
    int block = 0;
    for (const auto& b : blocks) {
        lfo->frequency = b.lfoHz;
        refLfo.frequency = b.lfoHz;
        osc->amplitude = refOsc.amplitude = b.oscAmplitude;
        // The key loop may have nudged the carrier's field meanwhile.
        osc->frequency = 123.0f + static_cast<float>(block);
        refOsc.frequency = 123.0f + static_cast<float>(block);

        EXPECT_EQ(streamCallback(nullptr, samples.data(), static_cast<int>(samples.size()), nullptr), 1);
        plainBlock(plainSamples);
        EXPECT_EQ(samples, plainSamples) << "samples of block " << block;
        expectSameAsPlain(block);
        ++block;
    }
}
