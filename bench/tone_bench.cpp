// Throughput of the block fill. "realtime_ratio" is audio seconds made per
// CPU second (44,100 frames per audio second); its inverse is the CPU cost
// per second of audio.
#include "synth/tone.h"

#include <benchmark/benchmark.h>

#include <vector>

static void BM_FillBlock(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    std::vector<unsigned char> buffer(static_cast<std::size_t>(frames) * 4);
    Oscillator osc(1.0f, 440.0f), lfo(1.0f, 1.0f);
    for (auto _ : state) {
        fillBlock(buffer.data(), static_cast<int>(buffer.size()), osc, lfo);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    const double framesDone = static_cast<double>(state.iterations()) * frames;
    state.counters["frames/s"] = benchmark::Counter(framesDone, benchmark::Counter::kIsRate);
    state.counters["realtime_ratio"] = benchmark::Counter(framesDone / 44100.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FillBlock)->Arg(1024)->Arg(16384);
