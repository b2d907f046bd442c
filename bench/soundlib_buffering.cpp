// Plays the sound library's stream on one output for a while and reports
// its buffering and underruns. The callback spends about as long per block
// as the program's (clear, fill, draw, flip: ~1 ms).
// Usage: soundlib_buffering OUTPUT [SECONDS] [CALLBACK_US]
#include "audio/fsound.h"
#include "platform/soundlib/soundlib_extras.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

int callbackUs = 1000;

fsound_bool busyCallback(FSOUND_STREAM*, void* buffer, int length, void*)
{
    std::memset(buffer, 0, static_cast<size_t>(length));
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(callbackUs);
    while (std::chrono::steady_clock::now() < end) {
    }
    return 1;
}

const char* outputName(int output)
{
    switch (output) {
    case 0: return "null";
    case 1: case 6: return "ALSA";
    case 2: return "PulseAudio";
    case 7: return "JACK";
    default: return "?";
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [SECONDS] [CALLBACK_US]\n", argv[0]);
        return 2;
    }
    const int output = std::atoi(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    if (argc > 3) callbackUs = std::atoi(argv[3]);

    if (!FSOUND_SetOutput(output) || !FSOUND_Init(44100, 32, 0)) {
        std::printf("%-10s init failed, error %d\n", outputName(output), FSOUND_GetError());
        return 1;
    }
    FSOUND_STREAM* stream = FSOUND_Stream_Create(&busyCallback, 65536, 0x01000150, 44100, nullptr);
    if (!stream || FSOUND_Stream_Play(0, stream) == -1) {
        std::printf("%-10s stream failed, error %d\n", outputName(output), FSOUND_GetError());
        return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    SoundlibStatus s;
    soundlib_GetStatus(&s);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double msPer = 1000.0 / s.sampleRate;
    std::printf("%-10s block %d frames (%.1f ms), ring lead %.1f ms + backend %.1f ms = buffering %.1f ms; "
                "%.0f s: %.1f callbacks/s, %llu frames delivered (%.4f of real time), "
                "underruns %llu (%llu frames), backend underflows %llu, failed %d, clock fallback %d\n",
                outputName(output), s.blockFrames, s.blockFrames * msPer, s.ringLeadFrames * msPer,
                s.backendFrames * msPer, s.bufferingMs, elapsed, static_cast<double>(s.callbacks) / elapsed,
                s.framesDelivered, static_cast<double>(s.framesDelivered) / (elapsed * s.sampleRate),
                s.underruns, s.underrunFrames, s.deviceUnderflows, s.backendFailed, s.clockFallback);
    std::fflush(stdout);
    return s.underruns == 0 ? 0 : 1;
}
