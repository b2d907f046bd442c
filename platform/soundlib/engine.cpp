#include "platform/soundlib/engine.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace soundlib {

namespace {

constexpr int64_t kNsPerSec = 1000000000;
// A device that takes nothing for this long is taken as stopped: the
// streamer's clock takes over so the callback (and the window it draws)
// keeps its pace.
constexpr int64_t kStallNs = 500 * 1000 * 1000;
// Until it has taken its first fill a device gets longer: a server may take
// a while to start a new stream (PulseAudio's null sink, idle at a 2 s
// latency, first finishes the period it is sleeping through).
constexpr int64_t kFirstPullNs = 3000LL * 1000 * 1000;
// Device calls seen while the clock owns the ring before it is handed back.
constexpr uint64_t kGiveBackCalls = 8;
// The streamer looks at the ring at least this often and at most this often.
constexpr int64_t kMinSleepNs = 500 * 1000;
constexpr int64_t kMaxSleepNs = 10 * 1000 * 1000;
// How long after a device pull is due the streamer looks for the room it left.
constexpr int64_t kPullSlackNs = 300 * 1000;
// A null output this far behind its schedule (a suspended machine) starts a
// new schedule instead of catching up in a burst.
constexpr int64_t kRebaseNs = 250 * 1000 * 1000;

// ns taken by `frames` at `rate` Hz, exact, no overflow.
int64_t framesToNs(uint64_t frames, int rate)
{
    const uint64_t r = static_cast<uint64_t>(rate);
    return static_cast<int64_t>(frames / r * kNsPerSec + frames % r * kNsPerSec / r);
}

// Whole frames played in `ns` at `rate` Hz.
uint64_t nsToFrames(int64_t ns, int rate)
{
    const uint64_t n = static_cast<uint64_t>(ns);
    const uint64_t r = static_cast<uint64_t>(rate);
    return n / kNsPerSec * r + n % kNsPerSec * r / kNsPerSec;
}

void sleepNs(int64_t ns)
{
    timespec ts{static_cast<time_t>(ns / kNsPerSec), static_cast<long>(ns % kNsPerSec)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

void sleepUntil(int64_t deadline)
{
    timespec ts{static_cast<time_t>(deadline / kNsPerSec), static_cast<long>(deadline % kNsPerSec)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// Wait until `done` is set, at most timeoutMs.
bool waitFor(const std::atomic<bool>& done, int timeoutMs)
{
    const int64_t deadline = monotonicNs() + int64_t{timeoutMs} * 1000 * 1000;
    while (!done.load(std::memory_order_acquire)) {
        if (monotonicNs() >= deadline) return false;
        sleepNs(1000 * 1000);
    }
    return true;
}

// Real-time class where allowed (root, or an rtprio limit), else a high
// CFS weight where allowed (a nice limit), else nothing. The streamer runs
// below the device threads (priority 10), which only copy, so the
// program's drawing never delays a device; the kernel's real-time
// throttling still bounds a callback that would not return.
void raisePriority(int realtimePriority, int nice)
{
    sched_param param{};
    param.sched_priority = realtimePriority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
}

} // namespace

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * kNsPerSec + ts.tv_nsec;
}

Engine::Engine(FSOUND_STREAM* handle, FSOUND_STREAMCALLBACK callback, void* userData,
               int sampleRate, uint32_t blockFrames, uint32_t leadFrames, uint32_t maxStartExtra)
    : handle_(handle), callback_(callback), userData_(userData), rate_(sampleRate),
      block_(blockFrames), lead_(leadFrames < blockFrames ? blockFrames : leadFrames),
      maxStartExtra_(maxStartExtra), ring_(lead_ + maxStartExtra), scratch_(new uint32_t[block_]()), nullBuffer_(new uint32_t[block_]())
{
}

Engine::~Engine()
{
    // Only ever destroyed once both threads have ended or were never started.
    if (streamer_.joinable()) streamer_.detach();
    if (nullOutput_.joinable()) nullOutput_.detach();
}

uint64_t Engine::fillTarget() const
{
    const uint32_t extra = startExtra_.load(std::memory_order_relaxed);
    return delivered_.load(std::memory_order_acquire) < extra ? lead_ + extra : lead_;
}

bool Engine::startStreamer(uint32_t deviceFrames, int timeoutMs)
{
    if (deviceFrames > maxStartExtra_) deviceFrames = maxStartExtra_;
    startExtra_.store(deviceFrames, std::memory_order_relaxed);
    streamer_ = std::thread([this] { streamerMain(); });
    const int64_t deadline = monotonicNs() + int64_t{timeoutMs} * 1000 * 1000;
    while (rendered_.load(std::memory_order_acquire) + block_ <= lead_ + deviceFrames &&
           !streamerDone_.load(std::memory_order_acquire)) {
        if (monotonicNs() >= deadline) return false;
        sleepNs(500 * 1000);
    }
    return true;
}

bool Engine::stopStreamer(int timeoutMs)
{
    stop_.store(true, std::memory_order_release);
    if (!streamer_.joinable()) return true;
    if (streamer_.get_id() == std::this_thread::get_id()) return false;
    if (!waitFor(streamerDone_, timeoutMs)) return false;
    streamer_.join();
    return true;
}

void Engine::startNullOutput()
{
    nullOutput_ = std::thread([this] { nullMain(); });
}

bool Engine::stopNullOutput(int timeoutMs)
{
    nullStop_.store(true, std::memory_order_release);
    if (!nullOutput_.joinable()) return true;
    if (!waitFor(nullDone_, timeoutMs)) return false;
    nullOutput_.join();
    return true;
}

void Engine::deviceRequest(void* out, uint32_t frames)
{
    deviceCalls_.fetch_add(1, std::memory_order_relaxed);
    if (muted_.load(std::memory_order_acquire) || failed_.load(std::memory_order_acquire)) {
        std::memset(out, 0, size_t{frames} * 4);
        return;
    }
    inDevice_.store(true, std::memory_order_seq_cst);
    if (clockOwns_.load(std::memory_order_seq_cst)) {
        inDevice_.store(false, std::memory_order_release);
        std::memset(out, 0, size_t{frames} * 4);
        return;
    }
    const uint32_t got = ring_.pop(static_cast<uint32_t*>(out), frames);
    inDevice_.store(false, std::memory_order_release);
    if (got < frames) {
        std::memset(static_cast<uint32_t*>(out) + got, 0, size_t{frames - got} * 4);
        underruns_.fetch_add(1, std::memory_order_relaxed);
        underrunFrames_.fetch_add(frames - got, std::memory_order_relaxed);
    }
    delivered_.fetch_add(frames, std::memory_order_release);
    // clock_gettime is answered in user space (vDSO): no system call here.
    lastPullFrames_.store(frames, std::memory_order_relaxed);
    lastPullNs_.store(monotonicNs(), std::memory_order_release);
}

void Engine::renderBlock()
{
    const int bytes = static_cast<int>(block_ * 4);
    std::memset(scratch_.get(), 0, static_cast<size_t>(bytes));
    callback_(handle_, scratch_.get(), bytes, userData_);
    ring_.push(scratch_.get(), block_);
    callbacks_.fetch_add(1, std::memory_order_relaxed);
    rendered_.fetch_add(block_, std::memory_order_release);
}

void Engine::takeOver(int64_t now)
{
    clockOwns_.store(true, std::memory_order_seq_cst);
    // The device leaves the ring within one copy.
    while (inDevice_.load(std::memory_order_seq_cst)) sleepNs(100 * 1000);
    clockStart_ = now;
    clockConsumed_ = 0;
}

void Engine::streamerMain()
{
    pthread_setname_np(pthread_self(), "fmscope-stream");
    raisePriority(5, -15);
    bool watching = false;
    uint64_t lastDelivered = 0;
    int64_t lastProgress = 0;
    uint64_t callsAtTakeOver = 0;

    while (!stop_.load(std::memory_order_acquire)) {
        const int64_t now = monotonicNs();
        if (!clockOwns_.load(std::memory_order_relaxed)) {
            if (watchdogArmed_.load(std::memory_order_acquire)) {
                const uint64_t delivered = delivered_.load(std::memory_order_acquire);
                const uint64_t firstFill = lead_ + startExtra_.load(std::memory_order_relaxed);
                const int64_t limit = delivered <= firstFill ? kFirstPullNs : kStallNs;
                if (!watching || delivered != lastDelivered) {
                    watching = true;
                    lastDelivered = delivered;
                    lastProgress = now;
                } else if (failed_.load(std::memory_order_acquire) || now - lastProgress > limit) {
                    takeOver(now);
                    callsAtTakeOver = deviceCalls_.load(std::memory_order_relaxed);
                }
            }
        } else {
            // The streamer is the consumer now: discard what the clock says
            // has played.
            const uint64_t due = nsToFrames(now - clockStart_, rate_);
            if (due > clockConsumed_) {
                const uint64_t n = due - clockConsumed_;
                const uint64_t fill = ring_.fill();
                ring_.pop(nullptr, static_cast<uint32_t>(n < fill ? n : fill));
                delivered_.fetch_add(n, std::memory_order_release);
                clockConsumed_ = due;
            }
            // A device that calls again (a server back after a stall) gets
            // the ring back; one that failed never does.
            if (!failed_.load(std::memory_order_acquire) &&
                deviceCalls_.load(std::memory_order_relaxed) - callsAtTakeOver >= kGiveBackCalls) {
                clockOwns_.store(false, std::memory_order_seq_cst);
                watching = false;
            }
        }

        uint64_t target = fillTarget();
        while (!stop_.load(std::memory_order_acquire) && ring_.fill() + block_ <= target) {
            renderBlock();
            target = fillTarget();
        }

        // Sleep until about a block's room has drained. A device takes its
        // frames in bursts, so when it drives the ring that room appears only
        // at its next pull: sleep until that is due instead of looking in
        // between.
        const uint64_t fill = ring_.fill();
        const uint64_t deficit = fill + block_ > target ? fill + block_ - target : 0;
        int64_t ns = framesToNs(deficit, rate_);
        const int64_t lastPull = lastPullNs_.load(std::memory_order_acquire);
        if (lastPull > 0 && deficit > 0 && !clockOwns_.load(std::memory_order_relaxed)) {
            const int64_t nextPull =
                lastPull + framesToNs(lastPullFrames_.load(std::memory_order_relaxed), rate_) + kPullSlackNs;
            ns = nextPull - monotonicNs();
            // A pull that is late (the server takes its time) is waited for
            // in steps of a fifth of a block, not polled for.
            if (ns < kMinSleepNs) ns = framesToNs(block_ / 5, rate_);
        }
        if (ns < kMinSleepNs) ns = kMinSleepNs;
        if (ns > kMaxSleepNs) ns = kMaxSleepNs;
        sleepNs(ns);
    }
    streamerDone_.store(true, std::memory_order_release);
}

void Engine::nullMain()
{
    pthread_setname_np(pthread_self(), "fmscope-null");
    raisePriority(10, -15);
    int64_t start = monotonicNs();
    uint64_t frames = 0;
    while (!nullStop_.load(std::memory_order_acquire)) {
        frames += block_;
        const int64_t deadline = start + framesToNs(frames, rate_);
        sleepUntil(deadline);
        deviceRequest(nullBuffer_.get(), block_);
        const int64_t now = monotonicNs();
        if (now - deadline > kRebaseNs) {
            start = now;
            frames = 0;
        }
    }
    nullDone_.store(true, std::memory_order_release);
}

Engine::Counters Engine::counters() const
{
    Counters c;
    c.callbacks = callbacks_.load(std::memory_order_relaxed);
    c.rendered = rendered_.load(std::memory_order_relaxed);
    c.delivered = delivered_.load(std::memory_order_relaxed);
    c.underruns = underruns_.load(std::memory_order_relaxed);
    c.underrunFrames = underrunFrames_.load(std::memory_order_relaxed);
    c.deviceUnderflows = deviceUnderflows_.load(std::memory_order_relaxed);
    c.clockFallback = clockOwns_.load(std::memory_order_relaxed);
    return c;
}

} // namespace soundlib
