// clearSurface and putPixel on software surfaces of every pixel size.
#include "display/surface.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/display/surfaces.h"

namespace {

class EveryLayout : public ::testing::TestWithParam<PixelLayout> {};

std::string layoutName(const ::testing::TestParamInfo<PixelLayout>& info)
{
    return info.param.name;
}

// The bytes a pixel value occupies in memory on this layout.
std::vector<Uint8> pixelBytes(Uint32 value, int bytesPerPixel)
{
    std::vector<Uint8> bytes(static_cast<std::size_t>(bytesPerPixel));
    storePixel(bytes.data(), bytesPerPixel, value);
    return bytes;
}

TEST(PutPixel, StoresWordsWhereTheRowsAndColumnsOfA32BitSurfaceAre)
{
    GuardedSurface s(pixelLayouts()[3], 8, 4, 4);  // pitch 36, a multiple of 4
    putPixel(s.surface, 0, 0, 0x11223344);
    putPixel(s.surface, 2, 1, 0x55667788);
    const Uint32 first = 0x11223344, second = 0x55667788;
    EXPECT_EQ(std::memcmp(s.pixels(), &first, 4), 0);
    EXPECT_EQ(std::memcmp(s.pixels() + s.pitch() + 8, &second, 4), 0);
    for (int i = 0; i < s.pitch() * 4; ++i) {
        const bool written = i < 4 || (i >= s.pitch() + 8 && i < s.pitch() + 12);
        if (!written) {
            EXPECT_EQ(s.pixels()[i], GuardedSurface::untouched) << "byte " << i;
        }
    }
}

TEST_P(EveryLayout, PutPixelStoresOnePixelOfTheSurfacesSize)
{
    const PixelLayout& layout = GetParam();
    const int bytesPerPixel = layout.depth / 8;
    GuardedSurface s(layout, 5, 3, 3);
    putPixel(s.surface, 2, 1, 0x11223344);
    const std::vector<Uint8> expected = pixelBytes(0x11223344, bytesPerPixel);
    const int at = s.pitch() + 2 * bytesPerPixel;
    EXPECT_EQ(std::vector<Uint8>(s.pixels() + at, s.pixels() + at + bytesPerPixel), expected);
    EXPECT_EQ(readPixel(s.surface, 2, 1), 0x11223344u & (bytesPerPixel == 4 ? ~0u : (1u << (8 * bytesPerPixel)) - 1));
    for (int i = 0; i < s.pitch() * 3; ++i)
        if (i < at || i >= at + bytesPerPixel) {
            EXPECT_EQ(s.pixels()[i], GuardedSurface::untouched) << "byte " << i;
        }
}

TEST_P(EveryLayout, PutPixelOutsideTheSurfaceWritesNothing)
{
    GuardedSurface s(GetParam(), 6, 4, 2);
    const std::vector<Uint8> before = s.memory();
    const struct {
        int x, y;
    } outside[] = {{-1, 0}, {0, -1}, {6, 0}, {0, 4}, {6, 4}, {INT_MAX, 0}, {0, INT_MAX},
                   {INT_MIN, 1}, {1, INT_MIN}, {-1, -1}, {INT_MAX, INT_MAX}, {300, 340}};
    for (const auto& p : outside)
        putPixel(s.surface, p.x, p.y, 0xFFFFFFFF);
    EXPECT_EQ(s.memory(), before);
}

TEST_P(EveryLayout, PutPixelStaysInsideAPitchTooShortForTheWidth)
{
    // A surface over a caller's buffer whose pitch holds only 3 of its 6
    // pixels: columns 3 and up would land in the next row or past the end.
    const int bytesPerPixel = GetParam().depth / 8;
    GuardedSurface s(GetParam(), 6, 2, -3 * bytesPerPixel);
    for (int x = 0; x < 6; ++x)
        putPixel(s.surface, x, 1, 0xFFFFFFFF);
    EXPECT_TRUE(s.outsideUntouched(static_cast<std::size_t>(3 * bytesPerPixel)));
    EXPECT_EQ(surfaceColumns(s.surface), 3);
}

TEST_P(EveryLayout, ClearFillsEachRowsPixelsWithMappedBlackAndNothingElse)
{
    const PixelLayout& layout = GetParam();
    const int bytesPerPixel = layout.depth / 8;
    const int w = 7, h = 5;
    GuardedSurface s(layout, w, h, 5);  // 5 padding bytes a row
    clearSurface(s.surface);

    const Uint32 black = SDL_MapRGB(s.surface->format, 0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(readPixel(s.surface, x, y), black) << "pixel " << x << "," << y;
    EXPECT_TRUE(s.outsideUntouched(static_cast<std::size_t>(w * bytesPerPixel)));
    EXPECT_EQ(s.surface->locked, 0);

    Uint8 r, g, b;
    SDL_GetRGB(black, s.surface->format, &r, &g, &b);
    EXPECT_EQ(r | g | b, 0);
}

TEST_P(EveryLayout, ClearStaysInsideAPitchTooShortForTheWidth)
{
    const int bytesPerPixel = GetParam().depth / 8;
    GuardedSurface s(GetParam(), 6, 3, -2 * bytesPerPixel);
    clearSurface(s.surface);
    EXPECT_TRUE(s.outsideUntouched(static_cast<std::size_t>(4 * bytesPerPixel)));
    EXPECT_EQ(readPixel(s.surface, 3, 2), SDL_MapRGB(s.surface->format, 0, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryLayout, ::testing::ValuesIn(pixelLayouts()), layoutName);

TEST(Clear, ThirtyTwoBitBlackWithoutAlphaIsAllZeroBytes)
{
    GuardedSurface s(pixelLayouts()[3], 640, 3, 4);
    clearSurface(s.surface);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 640 * 4; ++i)
            ASSERT_EQ(s.pixels()[y * s.pitch() + i], 0);
    EXPECT_TRUE(s.outsideUntouched(640 * 4));
}

TEST(Clear, WorksOnASurfaceSdlAllocated)
{
    // SDL's own allocation is exactly h * pitch: AddressSanitizer catches any
    // store past it.
    for (const PixelLayout& layout : pixelLayouts()) {
        SDL_Surface* surface =
            SDL_CreateRGBSurface(SDL_SWSURFACE, 641, 3, layout.depth, layout.r, layout.g, layout.b, layout.a);
        ASSERT_NE(surface, nullptr);
        std::memset(surface->pixels, 0x5A, static_cast<std::size_t>(surface->pitch) * 3);
        clearSurface(surface);
        const Uint32 black = SDL_MapRGB(surface->format, 0, 0, 0);
        EXPECT_EQ(readPixel(surface, 640, 2), black) << layout.name;
        EXPECT_EQ(readPixel(surface, 0, 0), black) << layout.name;
        SDL_FreeSurface(surface);
    }
}

}  // namespace
