// Cost of the display stage that every stream callback runs: clear, trace
// (walked or replayed), flip to a real window, and the whole callback
// (clear, samples, trace, flip) per block. Needs an X display: run under
// scripts/test-services. "s_per_audio_s" is the benchmark's time per block
// divided by the block's length in audio: process CPU seconds per second of
// audio, or wall seconds for the /real_time variants. "x_server_ms" is the
// X server's own CPU per iteration (the flip's copy happens there).
#include <SDL.h>

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/stream_callback.h"
#include "display/surface.h"
#include "display/trace.h"
#include "synth/tone.h"

namespace {

// The window, opened once as the program opens it.
SDL_Surface* window()
{
    static SDL_Surface* const surface = []() -> SDL_Surface* {
        if (SDL_Init(SDL_INIT_VIDEO) != 0)
            return nullptr;
        return SDL_SetVideoMode(640, 480, 0, SDL_ANYFORMAT);
    }();
    return surface;
}

// The X server's process, found from the peer of a connection to its local
// socket; -1 if there is none.
pid_t xServerPid()
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] != ':')
        return -1;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(std::atoi(display + 1));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    pid_t pid = -1;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
        pid = peer.pid;
    close(fd);
    return pid;
}

// User plus system CPU seconds the X server has used so far.
double xServerCpuSeconds()
{
    static const pid_t pid = xServerPid();
    if (pid <= 0)
        return 0;
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (stat == nullptr)
        return 0;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    if (!read)
        return 0;
    // Fields after the command's closing parenthesis; utime and stime are
    // the 14th and 15th fields of the line.
    const char* rest = std::strrchr(line, ')');
    unsigned long utime = 0, stime = 0;
    if (rest == nullptr ||
        std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Points the program globals at a window and two fresh oscillators for one
// benchmark; false (and the benchmark skipped) without a display.
class DisplayRun {
public:
    explicit DisplayRun(benchmark::State& state) : carrier_(1.0f, 440.0f), modulator_(1.0f, 1.0f)
    {
        screen = window();
        osc = &carrier_;
        lfo = &modulator_;
        forgetTrace();
        if (screen == nullptr)
            state.SkipWithError("no window: run under scripts/test-services");
        xStart_ = xServerCpuSeconds();
    }
    ~DisplayRun()
    {
        osc = lfo = nullptr;
    }
    bool ok() const { return screen != nullptr; }

    void reportXServer(benchmark::State& state) const
    {
        if (state.iterations() > 0)
            state.counters["x_server_ms"] =
                (xServerCpuSeconds() - xStart_) * 1000.0 / static_cast<double>(state.iterations());
    }

private:
    Oscillator carrier_, modulator_;
    double xStart_ = 0;
};

void BM_Clear(benchmark::State& state)
{
    DisplayRun run(state);
    if (!run.ok())
        return;
    for (auto _ : state)
        clearSurface(screen);
}
BENCHMARK(BM_Clear);

void BM_TraceWalked(benchmark::State& state)
{
    DisplayRun run(state);
    if (!run.ok())
        return;
    for (auto _ : state) {
        forgetTrace();
        drawTrace();
    }
}
BENCHMARK(BM_TraceWalked);

void BM_TraceReplayed(benchmark::State& state)
{
    DisplayRun run(state);
    if (!run.ok())
        return;
    drawTrace();
    for (auto _ : state)
        drawTrace();
}
BENCHMARK(BM_TraceReplayed);

void BM_Flip(benchmark::State& state)
{
    DisplayRun run(state);
    if (!run.ok())
        return;
    for (auto _ : state)
        SDL_Flip(screen);
    run.reportXServer(state);
}
BENCHMARK(BM_Flip)->MinTime(2.0);
BENCHMARK(BM_Flip)->MinTime(2.0)->UseRealTime();

// One call of the program's stream callback for a block of range(0) frames:
// clear, samples, trace, flip (an unchanged picture is not redrawn);
// range(1) = 1 walks the trace every time, as it would without the recorded
// picture.
void BM_Callback(benchmark::State& state)
{
    DisplayRun run(state);
    if (!run.ok())
        return;
    const int frames = static_cast<int>(state.range(0));
    const bool walkEveryTime = state.range(1) != 0;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(frames) * bytesPerFrame);
    for (auto _ : state) {
        if (walkEveryTime)
            forgetTrace();
        streamCallback(nullptr, buffer.data(), static_cast<int>(buffer.size()), nullptr);
        benchmark::ClobberMemory();
    }
    run.reportXServer(state);
    state.counters["s_per_audio_s"] = benchmark::Counter(
        frames / 44100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// 441, 551, 882 and 1764 frames: 10, 12.5 (the sound layer's), 20 and 40 ms blocks.
BENCHMARK(BM_Callback)->ArgNames({"frames", "walk"})->Args({441, 0})->Args({551, 0})->Args({882, 0})->Args({1764, 0})->Args({551, 1})->MinTime(2.0);
BENCHMARK(BM_Callback)->ArgNames({"frames", "walk"})->Args({441, 0})->Args({551, 0})->Args({882, 0})->Args({1764, 0})->Args({551, 1})->MinTime(2.0)->UseRealTime();

}  // namespace
