// Shared set-up for the trace tests: the program globals pointed at the
// test's own oscillators and surface, and a reference walk of the trace.
#pragma once

#include <SDL.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "display/surface.h"
#include "display/trace.h"

inline std::uint32_t bitsOf(float value)
{
    std::uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

// Oscillator settings that decide the trace.
struct TraceSettings {
    float lfoFrequency = 1.0f;
    float oscAmplitude = 1.0f, lfoAmplitude = 1.0f;
    float oscPhaseOffset = 0.0f, lfoPhaseOffset = 0.0f;
};

// A walk on fresh oscillators: every point in order, and the end state.
struct ReferenceTrace {
    std::vector<std::pair<int, int>> points;  // column, row
    float oscFrequency, oscValue, lfoValue;

    explicit ReferenceTrace(const TraceSettings& settings = {})
    {
        Oscillator carrier(settings.oscAmplitude, 440.0f), modulator(settings.lfoAmplitude, settings.lfoFrequency);
        carrier.phaseOffset = settings.oscPhaseOffset;
        modulator.phaseOffset = settings.lfoPhaseOffset;
        points.reserve(tracePoints);
        walkTrace(carrier, modulator, [this](int column, int row) { points.emplace_back(column, row); });
        oscFrequency = carrier.frequency.load();
        oscValue = carrier.value;
        lfoValue = modulator.value;
    }

    std::set<std::pair<int, int>> pixels() const { return {points.begin(), points.end()}; }
};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        carrier = std::make_unique<Oscillator>(1.0f, 440.0f);
        modulator = std::make_unique<Oscillator>(1.0f, 1.0f);
        osc = carrier.get();
        lfo = modulator.get();
        screen = window = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        ASSERT_NE(window, nullptr);
        clearSurface(window);
        forgetTrace();
    }

    void TearDown() override
    {
        screen = nullptr;
        osc = lfo = nullptr;
        SDL_FreeSurface(window);
    }

    void apply(const TraceSettings& settings)
    {
        modulator->frequency = settings.lfoFrequency;
        carrier->amplitude = settings.oscAmplitude;
        modulator->amplitude = settings.lfoAmplitude;
        carrier->phaseOffset = settings.oscPhaseOffset;
        modulator->phaseOffset = settings.lfoPhaseOffset;
    }

    // The window's pixel memory, row padding included.
    std::vector<Uint8> picture(const SDL_Surface* surface = nullptr) const
    {
        const SDL_Surface* s = surface != nullptr ? surface : window;
        const auto* first = static_cast<const Uint8*>(s->pixels);
        return {first, first + static_cast<std::size_t>(s->pitch) * s->h};
    }

    // Expect the oscillators to be where a walk of `reference` leaves them,
    // with the phases they had before the trace.
    void expectEndState(const ReferenceTrace& reference, float oscPhase, float lfoPhase) const
    {
        EXPECT_EQ(bitsOf(carrier->phase), bitsOf(oscPhase));
        EXPECT_EQ(bitsOf(modulator->phase), bitsOf(lfoPhase));
        EXPECT_EQ(bitsOf(carrier->frequency.load()), bitsOf(reference.oscFrequency));
        EXPECT_EQ(bitsOf(carrier->value), bitsOf(reference.oscValue));
        EXPECT_EQ(bitsOf(modulator->value), bitsOf(reference.lfoValue));
    }

    std::unique_ptr<Oscillator> carrier, modulator;
    SDL_Surface* window = nullptr;
};
