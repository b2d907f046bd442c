// The stream engine: a streamer thread that calls the program's stream
// callback into an SPSC ring, and the one device path that empties it. A
// backend's audio callback and the null output's clock thread both call
// deviceRequest(); when the device stops pulling, the streamer paces itself
// from the monotonic clock so the callback keeps its real-time rate.
#pragma once

#include "audio/fsound.h"
#include "platform/soundlib/spsc_ring.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace soundlib {

class Engine {
public:
    // blockFrames per callback; leadFrames the most the streamer runs ahead
    // (>= blockFrames); maxStartExtra the most startStreamer() may add at
    // start. Allocates everything the stream will use.
    Engine(FSOUND_STREAM* handle, FSOUND_STREAMCALLBACK callback, void* userData, int sampleRate,
           uint32_t blockFrames, uint32_t leadFrames, uint32_t maxStartExtra);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Control thread. Start the streamer and wait (at most timeoutMs) until it
    // has filled the ring; false when it did not in time. deviceFrames is the
    // backend's buffer: the ring holds that much more until the device has
    // taken its first fill, so a device that fills its whole buffer at start
    // finds the frames there, and no more is ever queued than lead + buffer.
    bool startStreamer(uint32_t deviceFrames, int timeoutMs);
    // Control thread. The device has started: arm the stall watchdog.
    void deviceStarted() { watchdogArmed_.store(true, std::memory_order_release); }
    // Control thread or exit handler. Ask the streamer to stop and wait at
    // most timeoutMs; true when it has ended (the engine may then be freed).
    // From the streamer thread itself it only asks.
    bool stopStreamer(int timeoutMs);

    // The null output: a thread that calls deviceRequest() on a monotonic
    // clock with absolute deadlines, discarding the samples.
    void startNullOutput();
    bool stopNullOutput(int timeoutMs);

    // Device path: fill `frames` 4-byte frames of `out` from the ring,
    // silence for what is missing. Real-time safe: no lock, no allocation,
    // no system call, no user code.
    void deviceRequest(void* out, uint32_t frames);

    // From the backend's threads: a fatal stream error, an underflow it saw.
    void backendFailed() { failed_.store(true, std::memory_order_release); }
    void deviceUnderflow() { deviceUnderflows_.fetch_add(1, std::memory_order_relaxed); }
    bool hasFailed() const { return failed_.load(std::memory_order_acquire); }

    // Play silence from now on without touching the ring (shutdown, exit).
    void mute() { muted_.store(true, std::memory_order_release); }

    uint32_t blockFrames() const { return block_; }
    uint32_t leadFrames() const { return lead_; }

    struct Counters {
        uint64_t callbacks, rendered, delivered, underruns, underrunFrames, deviceUnderflows;
        bool clockFallback;
    };
    Counters counters() const;

private:
    void streamerMain();
    void nullMain();
    void renderBlock();
    void takeOver(int64_t now);
    uint64_t fillTarget() const;

    FSOUND_STREAM* handle_;
    FSOUND_STREAMCALLBACK callback_;
    void* userData_;
    const int rate_;
    const uint32_t block_;
    const uint32_t lead_;
    const uint32_t maxStartExtra_;
    std::atomic<uint32_t> startExtra_{0};
    SpscRing ring_;
    std::unique_ptr<uint32_t[]> scratch_;     // streamer's block for the callback
    std::unique_ptr<uint32_t[]> nullBuffer_;  // null output's discarded block

    std::thread streamer_;
    std::thread nullOutput_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> streamerDone_{false};
    std::atomic<bool> nullStop_{false};
    std::atomic<bool> nullDone_{false};
    std::atomic<bool> watchdogArmed_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> muted_{false};

    // Consumer hand-over between the device and the streamer's clock: the
    // device marks itself inside the ring before it checks clockOwns_, the
    // streamer sets clockOwns_ before it waits for the device to leave, so
    // (sequentially consistent) at most one of them ever reads the ring.
    std::atomic<bool> inDevice_{false};
    std::atomic<bool> clockOwns_{false};
    int64_t clockStart_ = 0;      // streamer only
    uint64_t clockConsumed_ = 0;  // streamer only

    std::atomic<uint64_t> callbacks_{0};
    std::atomic<uint64_t> rendered_{0};
    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> deviceCalls_{0};
    // When the device last pulled, and how much: room in the ring appears
    // only at pulls, so the streamer sleeps until the next one is due.
    std::atomic<int64_t> lastPullNs_{0};
    std::atomic<uint32_t> lastPullFrames_{0};
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> underrunFrames_{0};
    std::atomic<uint64_t> deviceUnderflows_{0};
};

// Monotonic clock in nanoseconds.
int64_t monotonicNs();

} // namespace soundlib
