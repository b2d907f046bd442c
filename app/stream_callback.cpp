#include "app/stream_callback.h"

#include "app/globals.h"
#include "display/surface.h"
#include "display/trace.h"
#include "synth/tone.h"

#include <SDL.h>

fsound_bool streamCallback(FSOUND_STREAM* stream, void* buffer, int length, void* userData)
{
    (void)stream;
    (void)userData;
    // Every block redraws the window from scratch: cleared before the samples,
    // traced after them, then presented. The trace leaves the phases where the
    // samples stopped, so the next block continues without a seam.
    clearSurface(screen);
    fillBlock(buffer, length, *osc, *lfo);
    drawTrace();
    SDL_Flip(screen);
    return 1;
}
