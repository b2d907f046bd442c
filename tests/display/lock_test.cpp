// The display stage when SDL_LockSurface fails. A software surface's lock
// cannot fail, so this binary links SDL's lock and unlock through wrappers
// (-Wl,--wrap) that pass every call on to SDL unless a test makes the lock
// fail; they also count the calls.
#include <SDL.h>

#include <gtest/gtest.h>

#include "tests/display/surfaces.h"
#include "tests/display/trace_fixture.h"

extern "C" {
int __real_SDL_LockSurface(SDL_Surface* surface);
void __real_SDL_UnlockSurface(SDL_Surface* surface);
}

namespace {
bool lockFails = false;
int locks = 0;
int unlocks = 0;
}  // namespace

extern "C" int __wrap_SDL_LockSurface(SDL_Surface* surface)
{
    ++locks;
    return lockFails ? -1 : __real_SDL_LockSurface(surface);
}

extern "C" void __wrap_SDL_UnlockSurface(SDL_Surface* surface)
{
    ++unlocks;
    __real_SDL_UnlockSurface(surface);
}

namespace {

class FailedLock : public TraceTest {
protected:
    void SetUp() override
    {
        TraceTest::SetUp();
        lockFails = false;
        locks = unlocks = 0;
    }
    void TearDown() override
    {
        lockFails = false;
        TraceTest::TearDown();
    }
};

TEST_F(FailedLock, ClearWritesNothingAndDoesNotUnlock)
{
    GuardedSurface s(pixelLayouts()[3], 16, 4, 4);
    const std::vector<Uint8> before = s.memory();
    lockFails = true;
    clearSurface(s.surface);
    EXPECT_EQ(locks, 1);
    EXPECT_EQ(unlocks, 0);
    EXPECT_EQ(s.memory(), before);
}

TEST_F(FailedLock, TheTraceGoesOnTopOfThePreviousPicture)
{
    // A plain software surface needs no lock for the trace, so a lock that
    // fails only skips the clear.
    const auto pixels = ReferenceTrace().pixels();
    std::memset(window->pixels, 0x33, static_cast<std::size_t>(window->pitch) * 480);
    for (const bool walk : {true, false}) {
        SCOPED_TRACE(walk ? "walked" : "replayed");
        if (walk)
            forgetTrace();
        lockFails = true;
        locks = unlocks = 0;
        clearSurface(window);
        drawTrace();
        EXPECT_EQ(locks, 1) << "only the clear locks this surface";
        EXPECT_EQ(unlocks, 0);
        int mismatches = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                mismatches += readPixel(window, x, y) != (pixels.count({x, y}) ? 0x00FFFFFFu : 0x33333333u);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(FailedLock, ASurfaceThatNeedsTheLockIsLeftAloneButTheOscillatorsMoveOn)
{
    SDL_Surface* target = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    SDL_SetColorKey(window, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0);
    SDL_BlitSurface(window, nullptr, target, nullptr);  // encodes: pixels gone until locked
    ASSERT_TRUE(SDL_MUSTLOCK(window));

    const ReferenceTrace reference;
    for (const bool walk : {true, false}) {
        SCOPED_TRACE(walk ? "walked" : "replayed");
        if (walk)
            forgetTrace();
        carrier->phase = 0.125f;
        carrier->frequency = 440.0f;
        lockFails = true;
        locks = unlocks = 0;
        drawTrace();
        EXPECT_EQ(locks, 1);
        EXPECT_EQ(unlocks, 0);
        expectEndState(reference, 0.125f, 0.0f);

        lockFails = false;
        locks = unlocks = 0;
        drawTrace();
        EXPECT_EQ(locks, 1) << "locked once around the whole trace";
        EXPECT_EQ(unlocks, 1);
        EXPECT_EQ(window->locked, 0);
    }
    SDL_FreeSurface(target);
}

}  // namespace
