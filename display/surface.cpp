#include "display/surface.h"

#include <cstddef>
#include <cstring>

namespace {

// True when every byte of a pixel value of this size is the same, so a row of
// it is a plain byte fill.
bool uniformBytes(Uint32 value, int bytesPerPixel)
{
    Uint8 bytes[4];
    storePixel(bytes, bytesPerPixel, value);
    for (int i = 1; i < bytesPerPixel; ++i)
        if (bytes[i] != bytes[0])
            return false;
    return true;
}

}  // namespace

int surfaceColumns(const SDL_Surface* surface)
{
    const int bytesPerPixel = surface->format->BytesPerPixel;
    if (surface->w <= 0 || bytesPerPixel == 0)
        return 0;
    const int fit = surface->pitch / bytesPerPixel;
    return surface->w < fit ? surface->w : fit;
}

bool clearSurface(SDL_Surface* surface)
{
    if (surface == nullptr || SDL_LockSurface(surface) != 0)
        return false;
    auto* row = static_cast<Uint8*>(surface->pixels);
    const int bytesPerPixel = surface->format->BytesPerPixel;
    const std::size_t bytes = static_cast<std::size_t>(surfaceColumns(surface)) * bytesPerPixel;
    if (row != nullptr && bytes > 0 && surface->h > 0) {
        const Uint32 black = SDL_MapRGB(surface->format, 0, 0, 0);
        if (uniformBytes(black, bytesPerPixel)) {
            // The usual case (black is 0, or a palette index): one memset a row.
            const int fill = static_cast<int>(black & 0xFF);
            for (int y = 0; y < surface->h; ++y, row += surface->pitch)
                std::memset(row, fill, bytes);
        } else {
            // Black with an alpha channel, or another multi-byte pattern:
            // build the first row pixel by pixel, then copy it to the others.
            Uint8* const first = row;
            for (std::size_t at = 0; at < bytes; at += static_cast<std::size_t>(bytesPerPixel))
                storePixel(first + at, bytesPerPixel, black);
            row += surface->pitch;
            for (int y = 1; y < surface->h; ++y, row += surface->pitch)
                std::memcpy(row, first, bytes);
        }
    }
    SDL_UnlockSurface(surface);
    return row != nullptr;
}

void putPixel(SDL_Surface* surface, int x, int y, Uint32 colour)
{
    if (x < 0 || y < 0 || x >= surfaceColumns(surface) || y >= surface->h || surface->pixels == nullptr)
        return;
    const int bytesPerPixel = surface->format->BytesPerPixel;
    auto* at = static_cast<Uint8*>(surface->pixels) + static_cast<std::size_t>(y) * surface->pitch +
               static_cast<std::size_t>(x) * bytesPerPixel;
    storePixel(at, bytesPerPixel, colour);
}
