#include "app/program.h"

#include "app/audio_setup.h"
#include "app/globals.h"
#include "app/stream_callback.h"
#include "audio/fsound.h"
#include "platform/keyboard/console_keyboard.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr unsigned streamMode = 0x01000150;  // 16-bit signed stereo
constexpr float carrierStep = 10.0f;          // Hz per + or -
constexpr float lfoStep = 1.0f;               // Hz per 9 or 6

void failStream()
{
    std::printf("Error!\n%s\n", errorString(FSOUND_GetError()));
    std::exit(1);
}

void nudge(std::atomic<float>& frequency, float step)
{
    // A read and a write, not one atomic operation: a value the audio thread
    // writes in between is lost, which for osc.frequency is harmless since
    // the callback rewrites it before every carrier step.
    frequency.store(frequency.load(std::memory_order_relaxed) + step, std::memory_order_relaxed);
}

void applyKey(signed char key)
{
    switch (key) {
    case '+': nudge(osc->frequency, carrierStep); break;
    case '-': nudge(osc->frequency, -carrierStep); break;
    case '9': nudge(lfo->frequency, lfoStep); break;
    case '6': nudge(lfo->frequency, -lfoStep); break;
    default: break;
    }
}

[[noreturn]] void controlLoop()
{
    for (;;) {
        // Sleeps in the kernel until a key is there, rather than polling:
        // the audio and drawing thread needs the other core.
        consoleWaitForKey();
        applyKey(static_cast<signed char>(consoleReadKey()));
        std::printf("Freq1[%f]\n", static_cast<double>(osc->frequency.load(std::memory_order_relaxed)));
        std::printf("Freq2[%f]\n", static_cast<double>(lfo->frequency.load(std::memory_order_relaxed)));
    }
}

}  // namespace

void programMain(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    // Take the terminal's keys (no echo) from the start; a missing terminal
    // is reported by the first menu that needs a key.
    openConsoleKeyboard();

    if (!initAudio())
        std::exit(1);

    // The picture belongs in a desktop window. Without a display SDL would
    // fall back to drawing on the terminal (caca, aalib), over the dialog
    // and the key loop, so X11 is asked for unless the user chose a driver.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    SDL_Init(SDL_INIT_VIDEO);
    screen = SDL_SetVideoMode(640, 480, 0, SDL_ANYFORMAT);
    if (!screen) {
        // The stream callback draws without a test, so there is no going on.
        std::printf("Cannot open the 640x480 window: %s\n", SDL_GetError());
        std::exit(1);
    }

    if (std::system("clear") == -1) {
        // Whatever clear does or fails to do, start-up goes on.
    }
    std::printf("8 9 - Freq LFO\n + - Freq Osc\n");

    osc = new (std::nothrow) Oscillator(1.0f, 440.0f);
    lfo = new (std::nothrow) Oscillator(1.0f, 1.0f);
    if (!osc || !lfo) {
        std::printf("Not enough memory for the oscillators\n");
        std::exit(1);
    }

    FSOUND_STREAM* stream = FSOUND_Stream_Create(streamCallback, streamLength, streamMode, mixRate, osc);
    if (!stream)
        failStream();
    if (FSOUND_Stream_Play(0, stream) == -1)
        failStream();

    controlLoop();
}
