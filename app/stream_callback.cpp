#include "app/stream_callback.h"

#include "app/globals.h"
#include "display/surface.h"
#include "display/trace.h"
#include "synth/tone.h"

#include <SDL.h>

namespace {

// The picture the window surface holds, when it is known to the byte: the
// whole recorded trace of `trace`, plotted by the last block on a cleared
// surface of this very memory and layout.
struct ShownPicture {
    bool known = false;
    TraceIdentity trace{};
    const SDL_Surface* surface = nullptr;
    const void* pixels = nullptr;
    const SDL_PixelFormat* format = nullptr;
    int w = 0, h = 0, pitch = 0;

    bool holds(const SDL_Surface* s, const TraceIdentity& t) const
    {
        return known && s == surface && s->pixels == pixels && s->format == format && s->w == w &&
               s->h == h && s->pitch == pitch && t == trace;
    }

    void remember(const SDL_Surface* s, bool cleared)
    {
        known = s != nullptr && cleared && lastTracePlotted(&trace);
        if (known) {
            surface = s;
            pixels = s->pixels;
            format = s->format;
            w = s->w;
            h = s->h;
            pitch = s->pitch;
        }
    }
};

ShownPicture shown;  // the stream's thread only

}  // namespace

fsound_bool streamCallback(FSOUND_STREAM* stream, void* buffer, int length, void* userData)
{
    (void)stream;
    (void)userData;
    // Every block redraws the window from scratch: cleared before the samples,
    // traced after them, then presented. The trace leaves the phases where the
    // samples stopped, so the next block continues without a seam.
    //
    // While the modulation rate stays put, clearing and tracing store exactly
    // the bytes the surface already holds; then both are skipped and only the
    // oscillator state the trace leaves is replayed. A key that changes the
    // picture during the samples is caught at the trace, which then clears
    // and draws in full (no one sees the surface before the flip).
    const bool unchanged = shown.holds(screen, currentTraceIdentity());
    bool cleared = !unchanged && clearSurface(screen);
    fillBlock(buffer, length, *osc, *lfo);
    if (!unchanged || !replayTraceEndState(shown.trace)) {
        if (unchanged)
            cleared = clearSurface(screen);
        drawTrace();
        shown.remember(screen, cleared);
    }
    SDL_Flip(screen);
    return 1;
}
