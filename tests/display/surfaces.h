// Test surfaces over memory the test owns: guard bytes on both sides and
// padding at the end of every row, all holding a known byte, so any store
// outside the pixels shows.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <vector>

struct PixelLayout {
    const char* name;
    int depth;  // bits per pixel
    Uint32 r, g, b, a;
};

// The layouts the display must cope with: a palette, 16, 24 and 32 bits,
// and 32 bits with alpha (whose black is not all-zero bytes).
inline const std::vector<PixelLayout>& pixelLayouts()
{
    static const std::vector<PixelLayout> layouts = {
        {"8bit_palette", 8, 0, 0, 0, 0},
        {"16bit_565", 16, 0xF800, 0x07E0, 0x001F, 0},
        {"24bit", 24, 0xFF0000, 0x00FF00, 0x0000FF, 0},
        {"32bit", 32, 0xFF0000, 0x00FF00, 0x0000FF, 0},
        {"32bit_alpha", 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
    };
    return layouts;
}

class GuardedSurface {
public:
    static constexpr std::size_t guardBytes = 256;
    static constexpr Uint8 untouched = 0xA5;

    // pitchExtra: bytes added to w * bytes-per-pixel for each row's pitch (may
    // be negative, for a surface whose pitch cannot hold w pixels).
    GuardedSurface(const PixelLayout& layout, int w, int h, int pitchExtra = 0)
    {
        const int bytesPerPixel = layout.depth / 8;
        pitch_ = w * bytesPerPixel + pitchExtra;
        memory_.assign(guardBytes * 2 + static_cast<std::size_t>(pitch_) * h, untouched);
        surface = SDL_CreateRGBSurfaceFrom(memory_.data() + guardBytes, w, h, layout.depth, pitch_,
                                           layout.r, layout.g, layout.b, layout.a);
        if (layout.depth == 8) {
            // Distinct black and white entries away from index 0, so a store
            // of an unmapped or wrong value shows.
            SDL_Color colours[256];
            for (auto& c : colours)
                c = {200, 40, 40, 0};
            colours[0] = {128, 128, 128, 0};
            colours[5] = {0, 0, 0, 0};
            colours[9] = {255, 255, 255, 0};
            SDL_SetColors(surface, colours, 0, 256);
        }
    }
    ~GuardedSurface() { SDL_FreeSurface(surface); }
    GuardedSurface(const GuardedSurface&) = delete;
    GuardedSurface& operator=(const GuardedSurface&) = delete;

    Uint8* pixels() { return memory_.data() + guardBytes; }
    int pitch() const { return pitch_; }
    std::vector<Uint8>& memory() { return memory_; }

    // Bytes before the pixels, after the last row, and between the end of
    // each row's `rowBytes` and the next row, still untouched.
    bool outsideUntouched(std::size_t rowBytes) const
    {
        for (std::size_t i = 0; i < memory_.size(); ++i) {
            if (i < guardBytes || i >= memory_.size() - guardBytes) {
                if (memory_[i] != untouched)
                    return false;
                continue;
            }
            const std::size_t inRow = (i - guardBytes) % static_cast<std::size_t>(pitch_);
            if (inRow >= rowBytes && memory_[i] != untouched)
                return false;
        }
        return true;
    }

    SDL_Surface* surface = nullptr;

private:
    std::vector<Uint8> memory_;
    int pitch_ = 0;
};

// The pixel value at column x, row y, in the surface's byte order.
inline Uint32 readPixel(const SDL_Surface* surface, int x, int y)
{
    const int bytesPerPixel = surface->format->BytesPerPixel;
    const auto* at = static_cast<const Uint8*>(surface->pixels) + static_cast<std::size_t>(y) * surface->pitch +
                     static_cast<std::size_t>(x) * bytesPerPixel;
    switch (bytesPerPixel) {
    case 1:
        return *at;
    case 2: {
        Uint16 word;
        std::memcpy(&word, at, 2);
        return word;
    }
    case 3:
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
        return static_cast<Uint32>(at[0] << 16 | at[1] << 8 | at[2]);
#else
        return static_cast<Uint32>(at[0] | at[1] << 8 | at[2] << 16);
#endif
    default: {
        Uint32 word;
        std::memcpy(&word, at, 4);
        return word;
    }
    }
}
