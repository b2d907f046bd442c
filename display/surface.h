// Surface primitives: clearing a whole SDL surface and storing one pixel.
// Both work at 1, 2, 3 and 4 bytes per pixel and never touch a byte outside
// the rows' pixels, whatever the coordinates or the surface's pitch.
#pragma once

#include <SDL.h>

#include <cstring>

// Fill the pixels of every row with the surface's own black (SDL_MapRGB 0,0,0),
// under SDL_LockSurface. The bytes between a row's last pixel and the next row
// are left alone. If the lock fails nothing is written and nothing unlocked.
// True when the surface was cleared; callers may ignore it.
// Call from the thread that owns the surface; allocates nothing.
bool clearSurface(SDL_Surface* surface);

// Store `colour`, a pixel value in the surface's format, at column x, row y
// (row 0 is the top). Only the BytesPerPixel low-order bytes of the value are
// stored, in the surface's byte order; a 4-byte surface gets the word as is.
// Coordinates outside the surface are ignored. Takes no lock: the caller locks
// a surface that SDL_MUSTLOCK says needs it.
void putPixel(SDL_Surface* surface, int x, int y, Uint32 colour);

// Whole pixels per row that lie within the row's pitch: w, unless a surface
// made over a caller's buffer has a pitch too short for w pixels.
int surfaceColumns(const SDL_Surface* surface);

// Store one pixel value of `bytesPerPixel` bytes (1 to 4) at `at`, which need
// not be aligned. The building block of putPixel, for callers that have
// already checked the coordinates.
inline void storePixel(Uint8* at, int bytesPerPixel, Uint32 colour)
{
    switch (bytesPerPixel) {
    case 1:
        *at = static_cast<Uint8>(colour);
        break;
    case 2: {
        const auto word = static_cast<Uint16>(colour);
        std::memcpy(at, &word, 2);
        break;
    }
    case 3:
#if SDL_BYTEORDER == SDL_BIG_ENDIAN
        at[0] = static_cast<Uint8>(colour >> 16);
        at[1] = static_cast<Uint8>(colour >> 8);
        at[2] = static_cast<Uint8>(colour);
#else
        at[0] = static_cast<Uint8>(colour);
        at[1] = static_cast<Uint8>(colour >> 8);
        at[2] = static_cast<Uint8>(colour >> 16);
#endif
        break;
    case 4:
        std::memcpy(at, &colour, 4);
        break;
    default:
        break;
    }
}
