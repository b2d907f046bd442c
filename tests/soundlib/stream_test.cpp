// The stream on real outputs: pacing, threads, bit-exact playback through
// PulseAudio and ALSA, JACK, quiet probing, process exit, a dying server.
#include "helpers.h"

#include "audio/fsound.h"
#include "platform/soundlib/soundlib_extras.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kMode = 0x01000150;
constexpr int kRate = 44100;

// A sanitizer build runs several times slower and takes locks of its own
// inside every thread: it checks what the threads do to memory, not whether
// the stream keeps real time. There an underrun may happen; what it may
// cost is silence, never a lost, repeated or damaged frame.
#ifdef FMSCOPE_SANITIZED
constexpr bool kRealTimeBuild = false;
#else
constexpr bool kRealTimeBuild = true;
#endif

// Underruns, or the silence they leave: none where the build keeps real time.
void expectNoneInRealTime(unsigned long long count, const char* what)
{
    if (kRealTimeBuild) {
        EXPECT_EQ(count, 0u) << what;
    }
}

SoundlibStatus status()
{
    SoundlibStatus s;
    soundlib_GetStatus(&s);
    return s;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Three seconds of a running stream, after it has settled for settleMs: the
// status at both ends and the frames delivered per frame of real time.
struct PaceWindow {
    SoundlibStatus before;
    SoundlibStatus after;
    double pace;
};

PaceWindow measurePace(int settleMs)
{
    sleepMs(settleMs);
    PaceWindow w;
    w.before = status();
    const auto t0 = Clock::now();
    sleepMs(3000);
    w.after = status();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    w.pace = static_cast<double>(w.after.framesDelivered - w.before.framesDelivered) / (seconds * kRate);
    return w;
}

// A callback that writes a counting ramp, one 32-bit count per frame (left =
// low half, right = high half), and checks how it is called.
struct Ramp {
    std::atomic<uint32_t> next{1};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCallerThread{false};
    std::atomic<bool> partialFrame{false};
    std::atomic<uint64_t> calls{0};
    pthread_t caller = pthread_self();

    static fsound_bool callback(FSOUND_STREAM*, void* buffer, int length, void* user)
    {
        Ramp* self = static_cast<Ramp*>(user);
        if (self->inside.fetch_add(1) != 0) self->overlapped = true;
        if (pthread_equal(pthread_self(), self->caller)) self->onCallerThread = true;
        if (length <= 0 || length % 4 != 0) self->partialFrame = true;
        uint32_t* frames = static_cast<uint32_t*>(buffer);
        uint32_t n = self->next.load(std::memory_order_relaxed);
        for (int i = 0; i < length / 4; ++i) frames[i] = n++;
        self->next.store(n, std::memory_order_relaxed);
        self->calls.fetch_add(1);
        self->inside.fetch_sub(1);
        return 1;
    }
};

class SoundlibStream : public testing::Test {
public:
    void SetUp() override { soundlib_Shutdown(); }
    void TearDown() override { soundlib_Shutdown(); }

    void play(int output, Ramp& ramp)
    {
        ASSERT_TRUE(FSOUND_SetOutput(output));
        ASSERT_TRUE(FSOUND_Init(kRate, 32, 0)) << "output " << output << " error " << FSOUND_GetError();
        FSOUND_STREAM* stream = FSOUND_Stream_Create(&Ramp::callback, 65536, kMode, kRate, &ramp);
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
    }
};

TEST_F(SoundlibStream, NullOutputKeepsRealTimePaceOnItsOwnThread)
{
    Ramp ramp;
    play(0, ramp);
    const PaceWindow w = measurePace(200);

    EXPECT_NEAR(w.pace, 1.0, 0.005);
    EXPECT_GE(w.after.callbacks - w.before.callbacks, 3u * 20u) << "at least 20 callbacks a second";
    expectNoneInRealTime(w.after.underruns, "underruns");
    EXPECT_FALSE(ramp.onCallerThread);
    EXPECT_FALSE(ramp.overlapped);
    EXPECT_FALSE(ramp.partialFrame);
    EXPECT_EQ(ramp.calls.load(), w.after.callbacks) << "the user value reached every call";
}

TEST_F(SoundlibStream, JackRunsAtRealTimePaceWithoutUnderrun)
{
    Ramp ramp;
    play(7, ramp);
    const PaceWindow w = measurePace(500);

    EXPECT_NEAR(w.pace, 1.0, 0.02);
    expectNoneInRealTime(w.after.underruns, "underruns");
    EXPECT_FALSE(w.after.backendFailed);
    EXPECT_FALSE(w.after.clockFallback);
    EXPECT_FALSE(ramp.onCallerThread);
    EXPECT_FALSE(ramp.overlapped);
}

// Record the test sink's monitor while a ramp plays through `output`; the
// recording must hold the ramp bit for bit from its first frame on.
void expectRampRecorded(int output, SoundlibStream& test)
{
    int fd = -1;
    const pid_t parec = spawnReading({"parec", "-d", "fmscope_test.monitor", "--format=s16le",
                                      "--rate=44100", "--channels=2", "--raw", "--latency-msec=20"},
                                     &fd);
    ASSERT_GT(parec, 0);
    std::vector<uint32_t> recording;
    std::thread reader([fd, &recording] {
        std::vector<char> bytes;
        char chunk[16384];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
        recording.resize(bytes.size() / 4);
        std::memcpy(recording.data(), bytes.data(), recording.size() * 4);
    });
    sleepMs(300);

    Ramp ramp;
    test.play(output, ramp);
    // The null sink may take up to 2 s to start a new stream.
    sleepMs(6000);
    kill(parec, SIGTERM);
    reader.join();
    close(fd);
    waitFor(parec, 5000);
    const SoundlibStatus s = status();

    // The test server's null sink drops the first few ms of any new stream
    // (a plain pacat too): the ramp is taken from its first recorded frame.
    size_t first = 0;
    while (first < recording.size() && recording[first] == 0) ++first;
    ASSERT_LT(first, recording.size()) << "nothing recorded";
    // Each frame follows on from the one before; a sanitizer build may put
    // silence between them.
    uint32_t last = recording[first];
    size_t frames = 1;
    size_t silent = 0;
    for (size_t i = first + 1; i < recording.size(); ++i) {
        if (recording[i] == 0) {
            ++silent;
            continue;
        }
        ASSERT_EQ(recording[i], last + 1) << "frame lost, repeated or damaged at " << i;
        last = recording[i];
        ++frames;
    }
    EXPECT_GE(frames, size_t{3} * kRate);
    expectNoneInRealTime(silent, "silent frames: a gap in the stream");
    expectNoneInRealTime(s.underruns, "underruns");
    EXPECT_FALSE(s.backendFailed);
}

TEST_F(SoundlibStream, PulseAudioPlaysTheStreamBitForBit) { expectRampRecorded(2, *this); }

TEST_F(SoundlibStream, AlsaDefaultDevicePlaysTheStreamBitForBit) { expectRampRecorded(1, *this); }

TEST(SoundlibQuiet, ProbingEveryOutputWithoutJackPrintsNothing)
{
    const std::string out = "/tmp/fmscope-soundlib-probe-" + std::to_string(getpid());
    // With the test PulseAudio server and without it: neither may print.
    const EnvOverrides cases[] = {
        {{"JACK_DEFAULT_SERVER", "fmscope-no-such-server"}},
        {{"JACK_DEFAULT_SERVER", "fmscope-no-such-server"},
         {"PULSE_SERVER", "unix:/nonexistent/fmscope/native"}},
    };
    for (const EnvOverrides& env : cases) {
        const pid_t pid = spawn({selfPath, "--child=probe"}, env, out + ".out", out + ".err");
        ASSERT_GT(pid, 0);
        const int status = waitFor(pid, 20000);
        ASSERT_NE(status, -1) << "probing hung";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_EQ(readFile(out + ".out"), "");
        EXPECT_EQ(readFile(out + ".err"), "");
    }
    std::remove((out + ".out").c_str());
    std::remove((out + ".err").c_str());
}

TEST(SoundlibExit, ExitWhileStreamingStopsCallbacksFirstAndEndsCleanly)
{
    for (int output : {0, 2, 1, 7}) {
        const pid_t pid = spawn({selfPath, "--child=exit:" + std::to_string(output)});
        ASSERT_GT(pid, 0);
        const int status = waitFor(pid, 15000);
        ASSERT_NE(status, -1) << "output " << output << ": exit hung";
        ASSERT_TRUE(WIFEXITED(status)) << "output " << output << ": killed by signal "
                                       << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "output " << output
                                          << (WEXITSTATUS(status) == 42 ? ": callback after teardown" : "");
    }
}

// When the server dies mid-stream the callback keeps its pace on the
// streamer's clock, and the library still shuts down promptly.
TEST_F(SoundlibStream, CallbackKeepsItsPaceWhenTheServerDies)
{
    struct Case {
        PrivateServer::Kind kind;
        int output;
    };
    for (const Case c : {Case{PrivateServer::kJack, 7}, Case{PrivateServer::kPulse, 2},
                         Case{PrivateServer::kPulse, 1}}) {
        SCOPED_TRACE("output " + std::to_string(c.output));
        soundlib_Shutdown();
        PrivateServer server(c.kind);
        ASSERT_TRUE(server.running());
        std::vector<std::unique_ptr<ScopedEnv>> env;
        for (const auto& kv : server.env()) env.emplace_back(new ScopedEnv(kv.first.c_str(), kv.second));

        Ramp ramp;
        play(c.output, ramp);
        sleepMs(c.kind == PrivateServer::kPulse ? 3000 : 500);
        server.kill();
        sleepMs(1500);
        const SoundlibStatus before = status();
        sleepMs(2000);
        const SoundlibStatus after = status();
        EXPECT_TRUE(after.clockFallback);
        const double perSecond = static_cast<double>(after.callbacks - before.callbacks) / 2.0;
        const double expected = static_cast<double>(after.sampleRate) / after.blockFrames;
        EXPECT_NEAR(perSecond, expected, expected * 0.15) << "callbacks a second after the server died";

        const auto t0 = Clock::now();
        soundlib_Shutdown();
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    }
}

} // namespace
