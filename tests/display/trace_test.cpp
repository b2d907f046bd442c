// The trace stage: its points, the oscillator state it leaves, and the
// recorded picture that later calls replay.
#include "display/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "tests/display/surfaces.h"
#include "tests/display/trace_fixture.h"

namespace {

// The picture the trace makes on a cleared 32-bit surface, placed with the
// plain word arithmetic: word (row * pitch) / 4 + column holds 0x00FFFFFF.
std::vector<Uint8> wordPicture(const ReferenceTrace& reference, const SDL_Surface* surface)
{
    std::vector<Uint8> bytes(static_cast<std::size_t>(surface->pitch) * surface->h, 0);
    for (const auto& [column, row] : reference.points) {
        const std::size_t word = static_cast<std::size_t>(row * surface->pitch / 4 + column);
        const Uint32 white = 0x00FFFFFF;
        std::memcpy(bytes.data() + word * 4, &white, 4);
    }
    return bytes;
}

TEST(TraceWalk, Plots63969PointsInTheKnownColumnCountsWhateverTheEntryState)
{
    const struct {
        float oscPhase, lfoPhase, oscFrequency;
    } entries[] = {{0.0f, 0.0f, 440.0f}, {0.37f, -9.8f, -50.0f}, {1.0f, 0.999f, 12345.0f}};
    for (const auto& entry : entries) {
        Oscillator carrier(1.0f, entry.oscFrequency), modulator(1.0f, 1.0f);
        carrier.phase = entry.oscPhase;
        modulator.phase = entry.lfoPhase;
        std::map<int, int> perColumn;
        int points = 0;
        walkTrace(carrier, modulator, [&](int column, int) {
            ++perColumn[column];
            ++points;
        });
        EXPECT_EQ(points, 63969);
        ASSERT_EQ(perColumn.size(), 640u);
        EXPECT_EQ(perColumn.begin()->first, 0);
        EXPECT_EQ(perColumn.rbegin()->first, 639);

        std::vector<int> with101, with99;
        int with100 = 0;
        for (const auto& [column, count] : perColumn) {
            if (count == 101)
                with101.push_back(column);
            else if (count == 99)
                with99.push_back(column);
            else if (count == 100)
                ++with100;
            else
                ADD_FAILURE() << "column " << column << " has " << count << " points";
        }
        EXPECT_EQ(with101, (std::vector<int>{0, 35, 144, 162, 180, 198, 217, 235, 253}));
        EXPECT_EQ(with100, 591);
        ASSERT_EQ(with99.size(), 40u);
        EXPECT_EQ(with99[0], 4);
        EXPECT_EQ(with99[1], 86);
        EXPECT_TRUE(std::all_of(with99.begin() + 2, with99.end(), [](int c) { return c >= 257 && c <= 636; }));
        EXPECT_EQ(perColumn[1], 100);
        EXPECT_EQ(perColumn[3], 100);
        EXPECT_EQ(perColumn[639], 100);
    }
}

TEST(TraceWalk, RowsLieWithin140To340)
{
    for (const float lfoHz : {1.0f, 2.0f, 7.0f, 0.0f, -3.0f}) {
        const ReferenceTrace reference({lfoHz});
        const auto [low, high] = std::minmax_element(
            reference.points.begin(), reference.points.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
        EXPECT_GE(low->second, 140) << lfoHz << " Hz";
        EXPECT_LE(high->second, 340) << lfoHz << " Hz";
    }
}

TEST(TraceWalk, AStillLfoShowsThe50HzCarrierFromPhaseZero)
{
    const ReferenceTrace reference({0.0f});
    // lfo output stays sin(0) = 0, so the carrier runs at 50 Hz throughout.
    EXPECT_EQ(reference.lfoValue, 0.0f);
    EXPECT_EQ(reference.oscFrequency, 50.0f);

    // The first point is one step after phase zero: 240 + 0.71, row 240.
    EXPECT_EQ(reference.points.front(), std::make_pair(0, 240));
    // Positive outputs lie lower: the first quarter period (220.5 steps)
    // climbs from the zero line to the bottom of the trace.
    for (int i = 1; i < 220; ++i)
        ASSERT_GE(reference.points[i].second, reference.points[i - 1].second) << "point " << i;
    EXPECT_EQ(reference.points[219].second, 339);
    // Outputs of exactly +1.0 and -1.0 (peaks within float rounding of the
    // sine's) land on rows 340 and 140.
    const auto byRow = [](const auto& a, const auto& b) { return a.second < b.second; };
    EXPECT_EQ(std::min_element(reference.points.begin(), reference.points.end(), byRow)->second, 140);
    EXPECT_EQ(std::max_element(reference.points.begin(), reference.points.end(), byRow)->second, 340);

    // A silent carrier lies on the zero line.
    TraceSettings silent;
    silent.oscAmplitude = 0.0f;
    for (const auto& point : ReferenceTrace(silent).points)
        ASSERT_EQ(point.second, 240);
}

TEST_F(TraceTest, DrawsTheWalksPointsInWhiteOnlyAndReplaysThemIdentically)
{
    const ReferenceTrace reference;
    const std::vector<Uint8> expected = wordPicture(reference, window);

    const unsigned long walksBefore = traceWalks();
    drawTrace();
    EXPECT_EQ(traceWalks(), walksBefore + 1);
    EXPECT_EQ(picture(), expected);

    clearSurface(window);
    drawTrace();
    drawTrace();
    EXPECT_EQ(traceWalks(), walksBefore + 1) << "the same lfo frequency walks once";
    EXPECT_EQ(picture(), expected);
}

TEST_F(TraceTest, LeavesThePhasesAsFoundAndTheFieldsAsTheLastPointSetThem)
{
    const ReferenceTrace reference;
    EXPECT_NEAR(reference.oscFrequency, 80.86f, 0.01f);
    EXPECT_EQ(bitsOf(reference.oscFrequency), bitsOf(carrierFrequency(reference.lfoValue)));

    const struct {
        float oscPhase, lfoPhase, oscFrequency;
    } entries[] = {{0.0f, 0.0f, 440.0f}, {0.25f, -3.5f, -50.0f}, {1.0f, 0.999f, 12345.0f}, {-10.4f, 0.5f, 0.0f}};
    for (const bool walk : {true, false}) {
        for (const auto& entry : entries) {
            SCOPED_TRACE(walk ? "walked" : "replayed");
            if (walk)
                forgetTrace();
            carrier->phase = entry.oscPhase;
            modulator->phase = entry.lfoPhase;
            carrier->frequency = entry.oscFrequency;
            carrier->value = 7.0f;
            modulator->value = 7.0f;
            const unsigned long walksBefore = traceWalks();
            drawTrace();
            EXPECT_EQ(traceWalks(), walksBefore + (walk ? 1 : 0));
            expectEndState(reference, entry.oscPhase, entry.lfoPhase);
        }
    }
}

TEST_F(TraceTest, TheSameLfoFrequencyDrawsTheSamePictureWhateverTheEntryState)
{
    for (const bool walk : {true, false}) {
        SCOPED_TRACE(walk ? "walked" : "replayed");
        forgetTrace();
        clearSurface(window);
        drawTrace();
        const std::vector<Uint8> first = picture();

        if (walk)
            forgetTrace();
        carrier->phase = 0.61f;
        modulator->phase = -2.2f;
        carrier->frequency = 130.0f;
        clearSurface(window);
        drawTrace();
        EXPECT_EQ(picture(), first);
    }
}

TEST_F(TraceTest, EverySettingTheTraceDependsOnGetsItsOwnPicture)
{
    const auto withLfo = [](float hz) { TraceSettings s; s.lfoFrequency = hz; return s; };
    TraceSettings oscAmplitude, lfoAmplitude, oscOffset, lfoOffset;
    oscAmplitude.oscAmplitude = 0.5f;
    lfoAmplitude.lfoAmplitude = 0.5f;
    oscOffset.oscPhaseOffset = 0.25f;
    lfoOffset.lfoPhaseOffset = 0.25f;
    const TraceSettings changes[] = {withLfo(2.0f), withLfo(0.0f), oscAmplitude, lfoAmplitude, oscOffset, lfoOffset};

    const TraceSettings start;
    const ReferenceTrace startReference(start);
    drawTrace();
    for (const TraceSettings& changed : changes) {
        const ReferenceTrace reference(changed);
        for (const auto& [settings, expected] :
             {std::make_pair(changed, &reference), std::make_pair(start, &startReference)}) {
            apply(settings);
            clearSurface(window);
            const unsigned long walksBefore = traceWalks();
            drawTrace();
            if (expected == &reference) {
                EXPECT_EQ(traceWalks(), walksBefore + 1) << "a changed setting is walked afresh";
            }
            EXPECT_EQ(picture(), wordPicture(*expected, window));
            expectEndState(*expected, 0.0f, 0.0f);
        }
    }
}

TEST_F(TraceTest, AWalkDisturbedByAnotherThreadIsNotReplayed)
{
    // A key press landing mid-walk changes that one picture; had it been
    // recorded, every later call would replay the disturbed picture.
    const ReferenceTrace reference;
    const std::vector<Uint8> expected = wordPicture(reference, window);
    std::atomic<float>* const fields[] = {&modulator->frequency, &carrier->frequency};
    for (std::atomic<float>* field : fields) {
        for (int round = 0; round < 5; ++round) {
            std::atomic<bool> stop{false};
            std::atomic<long> writes{0};
            // The lfo mostly at 1 Hz with brief visits to 2 Hz, so that a walk
            // usually starts at 1 Hz and still meets 2 Hz on the way.
            std::thread keys([&] {
                for (long n = 0; !stop.load(); ++n) {
                    const float value = field == &carrier->frequency ? 440.0f : n % 16 == 0 ? 2.0f : 1.0f;
                    field->store(value, std::memory_order_relaxed);
                    ++writes;
                }
            });
            while (writes.load() < 1000)
                std::this_thread::yield();
            forgetTrace();
            drawTrace();
            stop = true;
            keys.join();

            modulator->frequency = 1.0f;
            clearSurface(window);
            drawTrace();
            EXPECT_EQ(picture(), expected) << "round " << round;
            expectEndState(reference, 0.0f, 0.0f);
        }
    }
}

TEST_F(TraceTest, WithoutASurfaceTheOscillatorsStillEndAsTheTraceLeavesThem)
{
    const ReferenceTrace reference;
    screen = nullptr;
    for (int call = 0; call < 2; ++call) {
        carrier->phase = 0.3f;
        carrier->frequency = 440.0f;
        drawTrace();
        expectEndState(reference, 0.3f, 0.0f);
    }
}

// Surfaces of other sizes and pixel layouts: the trace lands on the same
// columns and rows where they exist, in the surface's own white, and no byte
// outside the pixels changes.
struct SurfaceCase {
    int w, h, pitchExtra;
};

class TraceOnSurface : public TraceTest, public ::testing::WithParamInterface<std::tuple<PixelLayout, SurfaceCase>> {
};

TEST_P(TraceOnSurface, PlotsInsideThePixelsOnlyInTheSurfacesWhite)
{
    const auto& [layout, size] = GetParam();
    GuardedSurface s(layout, size.w, size.h, size.pitchExtra);
    screen = s.surface;
    clearSurface(s.surface);
    const Uint32 white = layout.depth == 32 ? 0x00FFFFFFu : SDL_MapRGB(s.surface->format, 255, 255, 255);
    const Uint32 black = SDL_MapRGB(s.surface->format, 0, 0, 0);
    const auto pixels = ReferenceTrace().pixels();

    for (const bool walk : {true, false}) {
        SCOPED_TRACE(walk ? "walked" : "replayed");
        if (walk)
            forgetTrace();
        clearSurface(s.surface);
        drawTrace();
        EXPECT_TRUE(s.outsideUntouched(static_cast<std::size_t>(size.w * layout.depth / 8)));
        int mismatches = 0;
        for (int y = 0; y < size.h; ++y)
            for (int x = 0; x < size.w; ++x)
                mismatches += readPixel(s.surface, x, y) != (pixels.count({x, y}) ? white : black);
        EXPECT_EQ(mismatches, 0);
    }
    if (layout.depth < 32) {
        Uint8 r, g, b;
        SDL_GetRGB(white, s.surface->format, &r, &g, &b);
        EXPECT_EQ(r & g & b, 255);
    }
}

std::string surfaceCaseName(const ::testing::TestParamInfo<TraceOnSurface::ParamType>& info)
{
    const auto& [layout, size] = info.param;
    return std::string(layout.name) + "_" + std::to_string(size.w) + "x" + std::to_string(size.h) + "_pad" +
           std::to_string(size.pitchExtra);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TraceOnSurface,
                         ::testing::Combine(::testing::ValuesIn(pixelLayouts()),
                                            ::testing::Values(SurfaceCase{640, 480, 0}, SurfaceCase{640, 480, 7},
                                                              SurfaceCase{100, 200, 1}, SurfaceCase{700, 341, 0},
                                                              SurfaceCase{640, 340, 0})),
                         surfaceCaseName);

TEST_F(TraceTest, StaysInsideSdlAllocatedSurfacesOfEveryDepthAndSize)
{
    // SDL allocates exactly h * pitch: AddressSanitizer reports a store past it.
    for (const PixelLayout& layout : pixelLayouts()) {
        for (const auto& [w, h] : {std::make_pair(640, 480), std::make_pair(64, 150), std::make_pair(639, 300)}) {
            SDL_Surface* surface =
                SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, layout.depth, layout.r, layout.g, layout.b, layout.a);
            ASSERT_NE(surface, nullptr);
            screen = surface;
            clearSurface(surface);
            forgetTrace();
            drawTrace();
            drawTrace();
            if (h > 240) {
                EXPECT_EQ(readPixel(surface, 0, 240), traceColour(surface->format)) << layout.name << " " << w;
            }
            SDL_FreeSurface(surface);
        }
    }
}

TEST_F(TraceTest, LocksASurfaceThatNeedsTheLock)
{
    // A colour-keyed surface with RLE acceleration keeps no pixels while
    // unlocked: its picture lives in the RLE data, rebuilt at unlock.
    const Uint32 grey = 0x00404040;
    SDL_Surface* target = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    SDL_SetColorKey(window, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0);
    SDL_BlitSurface(window, nullptr, target, nullptr);
    ASSERT_TRUE(SDL_MUSTLOCK(window));
    ASSERT_EQ(window->pixels, nullptr);

    const auto pixels = ReferenceTrace().pixels();
    for (const bool walk : {true, false}) {
        SCOPED_TRACE(walk ? "walked" : "replayed");
        if (walk)
            forgetTrace();
        clearSurface(window);
        drawTrace();
        EXPECT_EQ(window->locked, 0);
        SDL_FillRect(target, nullptr, grey);
        SDL_BlitSurface(window, nullptr, target, nullptr);
        int mismatches = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                mismatches += readPixel(target, x, y) != (pixels.count({x, y}) ? 0x00FFFFFFu : grey);
        EXPECT_EQ(mismatches, 0);
    }
    SDL_FreeSurface(target);
}

}  // namespace
