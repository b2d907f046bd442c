#include "display/trace.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "app/globals.h"
#include "display/surface.h"

namespace {

TraceIdentity keyOf(float lfoFrequency, const Oscillator& carrier, const Oscillator& modulator)
{
    return {floatBits(lfoFrequency), floatBits(carrier.amplitude), floatBits(modulator.amplitude),
            floatBits(carrier.phaseOffset), floatBits(modulator.phaseOffset)};
}

// One trace as distinct pixels, column by column, and the state it ends in.
// The rows of column c are rows[columnStart[c]] up to rows[columnStart[c + 1]];
// only rows >= 0 are kept. A point makes at most one entry, so tracePoints
// entries always suffice. About 256 KB, static: nothing is allocated on the
// stream's thread.
struct TracePicture {
    bool valid = false;
    TraceIdentity key{};
    float oscFrequency = 0, oscValue = 0, lfoValue = 0;
    int columnStart[traceColumns + 1] = {};
    std::int32_t rows[tracePoints] = {};
};

TracePicture picture;
unsigned long walks = 0;
bool plottedWhole = false;  // the last drawTrace plotted the whole recorded picture

// Collects a walk's points into `picture`, dropping repeats within a column
// (each column's ~100 points hit far fewer distinct rows).
class Recorder {
public:
    Recorder() { picture.columnStart[0] = 0; }

    void operator()(int column, int row)
    {
        if (column != current_) {
            if (column < current_ || column >= traceColumns)
                return;  // the walk's columns only ever climb from 0 to 639
            flush();
            while (current_ < column)
                picture.columnStart[++current_] = count_;
        }
        if (row < 0)
            return;
        if (pending_ == runCapacity)
            flush();
        run_[pending_++] = row;
    }

    void finish()
    {
        flush();
        while (current_ < traceColumns)
            picture.columnStart[++current_] = count_;
    }

private:
    static constexpr int runCapacity = 256;

    void flush()
    {
        std::sort(run_, run_ + pending_);
        const std::int32_t* end = std::unique(run_, run_ + pending_);
        for (const std::int32_t* row = run_; row != end; ++row)
            picture.rows[count_++] = *row;
        pending_ = 0;
    }

    int current_ = 0;
    int count_ = 0;
    int pending_ = 0;
    std::int32_t run_[runCapacity];
};

// Leave the oscillators as the recorded walk left them. The phases are not
// touched: a walk restores them bit for bit anyway.
void applyRecordedEndState(Oscillator& carrier, Oscillator& modulator)
{
    carrier.frequency.store(picture.oscFrequency, std::memory_order_relaxed);
    carrier.value = picture.oscValue;
    modulator.value = picture.lfoValue;
}

template <int bytesPerPixel>
void plotPicture(SDL_Surface* surface, Uint32 colour)
{
    auto* pixels = static_cast<Uint8*>(surface->pixels);
    const std::size_t pitch = surface->pitch;
    const int height = surface->h;
    const int columns = std::min(surfaceColumns(surface), traceColumns);
    for (int column = 0; column < columns; ++column) {
        Uint8* const top = pixels + static_cast<std::size_t>(column) * bytesPerPixel;
        const int end = picture.columnStart[column + 1];
        for (int at = picture.columnStart[column]; at < end; ++at) {
            const std::int32_t row = picture.rows[at];
            if (row < height)
                storePixel(top + static_cast<std::size_t>(row) * pitch, bytesPerPixel, colour);
        }
    }
}

void plotPicture(SDL_Surface* surface)
{
    const Uint32 colour = traceColour(surface->format);
    switch (surface->format->BytesPerPixel) {
    case 1: plotPicture<1>(surface, colour); break;
    case 2: plotPicture<2>(surface, colour); break;
    case 3: plotPicture<3>(surface, colour); break;
    case 4: plotPicture<4>(surface, colour); break;
    default: break;
    }
}

}  // namespace

Uint32 traceColour(const SDL_PixelFormat* format)
{
    if (format->BytesPerPixel == 4)
        return traceWhite32;
    return SDL_MapRGB(const_cast<SDL_PixelFormat*>(format), 0xFF, 0xFF, 0xFF);
}

void drawTrace()
{
    Oscillator& carrier = *osc;
    Oscillator& modulator = *lfo;

    const float lfoHz = modulator.frequency.load(std::memory_order_relaxed);
    if (picture.valid && picture.key == keyOf(lfoHz, carrier, modulator)) {
        applyRecordedEndState(carrier, modulator);
    } else {
        picture.valid = false;
        Recorder recorder;
        const TraceRun run = walkTrace(carrier, modulator, recorder);
        recorder.finish();
        ++walks;
        // The walk's last store into osc.frequency, by the carrier law.
        picture.oscFrequency = carrierFrequency(modulator.output());
        picture.oscValue = carrier.value;
        picture.lfoValue = modulator.value;
        picture.key = keyOf(run.lfoFrequency, carrier, modulator);
        picture.valid = run.steady;
    }

    plottedWhole = false;
    SDL_Surface* const surface = screen;
    if (surface == nullptr)
        return;
    const bool mustLock = SDL_MUSTLOCK(surface);
    if (mustLock && SDL_LockSurface(surface) != 0)
        return;
    if (surface->pixels != nullptr) {
        plotPicture(surface);
        plottedWhole = picture.valid;
    }
    if (mustLock)
        SDL_UnlockSurface(surface);
}

TraceIdentity currentTraceIdentity()
{
    return keyOf(lfo->frequency.load(std::memory_order_relaxed), *osc, *lfo);
}

bool lastTracePlotted(TraceIdentity* identity)
{
    if (plottedWhole && identity != nullptr)
        *identity = picture.key;
    return plottedWhole;
}

bool replayTraceEndState(const TraceIdentity& shown)
{
    if (!picture.valid || !(picture.key == shown) || !(currentTraceIdentity() == shown))
        return false;
    applyRecordedEndState(*osc, *lfo);
    return true;
}

void forgetTrace()
{
    picture.valid = false;
}

unsigned long traceWalks()
{
    return walks;
}
