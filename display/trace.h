// The waveform trace: the first 63,969 steps of the modulated carrier, both
// oscillators started from phase zero, plotted across the window's 640
// columns around the zero line at row 240 (positive outputs lower down).
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "synth/oscillator.h"
#include "synth/tone.h"

constexpr int traceColumns = 640;
constexpr double traceZeroRow = 240;      // row of a carrier output of 0
constexpr double traceRowsPerUnit = 100;  // rows per unit of carrier output
constexpr Uint32 traceWhite32 = 0x00FFFFFF;

// The horizontal position is a float stepped by 0.01 (a double constant, the
// sum rounded back to float) while it is below 640; float rounding makes that
// 63,969 points rather than 64,000.
constexpr float nextTracePosition(float x)
{
    return static_cast<float>(static_cast<double>(x) + 0.01);
}

constexpr int countTracePoints()
{
    int points = 0;
    for (float x = 0.0f; x < static_cast<float>(traceColumns); x = nextTracePosition(x))
        ++points;
    return points;
}

constexpr int tracePoints = countTracePoints();
static_assert(tracePoints == 63969, "float position stepping changed");

// A float's bit pattern: frequencies are compared and keyed bit for bit.
inline std::uint32_t floatBits(float value)
{
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

// What one walk of the trace ran with.
struct TraceRun {
    float lfoFrequency;  // Hz, as loaded when the walk began
    bool steady;         // every step used that lfo frequency, and every carrier
                         // step the frequency the walk had just stored in it
};

// Walk the trace's points: save both phases and set them to 0, then for each
// point step the modulator (lfo), store the carrier law's frequency in the
// carrier (osc), step the carrier and call plot(column, row); restore both
// phases bit for bit at the end. The carrier's frequency and both values keep
// what the last point left. Rows that no int can hold (a non-finite or huge
// output) are passed as -1, off every surface.
// `steady` is false when another thread wrote either frequency during the
// walk, so that the points may not be those of the frequency it began with.
template <typename Plot>
TraceRun walkTrace(Oscillator& carrier, Oscillator& modulator, Plot&& plot)
{
    const float oscPhase = carrier.phase;
    const float lfoPhase = modulator.phase;
    carrier.phase = 0.0f;
    modulator.phase = 0.0f;

    const float lfoHz = modulator.frequency.load(std::memory_order_relaxed);
    bool steady = true;
    for (float x = 0.0f; x < static_cast<float>(traceColumns); x = nextTracePosition(x)) {
        modulator.step();
        steady &= floatBits(modulator.frequency.load(std::memory_order_relaxed)) == floatBits(lfoHz);
        const float carrierHz = carrierFrequency(modulator.output());
        carrier.frequency.store(carrierHz, std::memory_order_relaxed);
        carrier.step();
        steady &= floatBits(carrier.frequency.load(std::memory_order_relaxed)) == floatBits(carrierHz);

        const auto y = static_cast<float>(static_cast<double>(carrier.output()) * traceRowsPerUnit);
        const double row = static_cast<double>(y) + traceZeroRow;
        const bool fits = row > -2147483649.0 && row < 2147483648.0;
        plot(static_cast<int>(x), fits ? static_cast<int>(row) : -1);
    }

    carrier.phase = oscPhase;
    modulator.phase = lfoPhase;
    return {lfoHz, steady};
}

// The trace colour on a surface: the word 0x00FFFFFF on 4 bytes per pixel
// (white wherever red, green and blue fill the low three bytes), SDL's own
// white at 1, 2 and 3 bytes per pixel.
Uint32 traceColour(const SDL_PixelFormat* format);

// The trace stage on the globals `screen`, `osc` and `lfo`. The picture and
// the oscillator state it leaves depend only on lfo.frequency and both
// oscillators' amplitude and phase offset, so the first call for such a state
// walks the trace and records its distinct pixels and end state, and later
// calls replay the record: same pixels, same phases, osc.frequency, osc.value
// and lfo.value as a walk would leave. A walk disturbed by another thread's
// write to a frequency is drawn but not recorded. A surface that SDL_MUSTLOCK
// says needs it is locked around the plotting; if that lock fails, or there is
// no surface, the oscillators still end as the trace leaves them but nothing
// is drawn.
// Runs on the stream's thread: allocates nothing, takes no lock of its own.
void drawTrace();

// Everything a trace's picture and end state depend on, as bit patterns:
// lfo.frequency, both amplitudes and both phase offsets.
struct TraceIdentity {
    std::uint32_t lfoFrequency, oscAmplitude, lfoAmplitude, oscPhaseOffset, lfoPhaseOffset;

    bool operator==(const TraceIdentity& other) const
    {
        return lfoFrequency == other.lfoFrequency && oscAmplitude == other.oscAmplitude &&
               lfoAmplitude == other.lfoAmplitude && oscPhaseOffset == other.oscPhaseOffset &&
               lfoPhaseOffset == other.lfoPhaseOffset;
    }
};

// The identity of the trace drawTrace would draw now, read from osc and lfo.
TraceIdentity currentTraceIdentity();

// True, with the picture's identity, when the last drawTrace plotted a whole
// recorded picture (not a disturbed walk) onto a surface.
bool lastTracePlotted(TraceIdentity* identity);

// For a surface that already holds the picture of `shown`: when the trace
// drawTrace would draw now is still that recorded picture, leave osc and lfo
// exactly as drawTrace would and return true without plotting (it would store
// the same bytes again). Otherwise change nothing and return false.
bool replayTraceEndState(const TraceIdentity& shown);

// Drop the recorded picture so the next drawTrace walks the trace again.
// Call only while drawTrace cannot run (not from another thread meanwhile).
void forgetTrace();

// How many times drawTrace has walked the trace instead of replaying it.
unsigned long traceWalks();
