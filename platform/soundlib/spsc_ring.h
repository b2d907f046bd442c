// Lock-free single-producer single-consumer ring of 4-byte stereo frames.
// The streamer writes, the device side reads; neither ever blocks or
// allocates. Indices count frames since the start and never wrap (64 bits
// last for millions of years at 44,100 Hz); the slot is the index modulo the
// capacity, a power of two.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

namespace soundlib {

class SpscRing {
public:
    // capacityFrames is rounded up to a power of two.
    explicit SpscRing(uint32_t capacityFrames)
    {
        capacity_ = 1;
        while (capacity_ < capacityFrames) capacity_ <<= 1;
        frames_.reset(new uint32_t[capacity_]());
    }

    uint32_t capacity() const { return capacity_; }

    // Frames ready for the consumer; exact on the consumer's thread, a lower
    // bound elsewhere.
    uint64_t fill() const
    {
        return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire);
    }

    uint64_t written() const { return write_.load(std::memory_order_acquire); }
    uint64_t read() const { return read_.load(std::memory_order_acquire); }

    // Producer: append up to `count` frames; returns how many fitted.
    uint32_t push(const uint32_t* src, uint32_t count)
    {
        const uint64_t w = write_.load(std::memory_order_relaxed);
        const uint64_t r = read_.load(std::memory_order_acquire);
        const uint64_t room = capacity_ - (w - r);
        if (count > room) count = static_cast<uint32_t>(room);
        copyIn(w, src, count);
        write_.store(w + count, std::memory_order_release);
        return count;
    }

    // Consumer: take up to `count` frames into dst (null discards them);
    // returns how many were there.
    uint32_t pop(uint32_t* dst, uint32_t count)
    {
        const uint64_t r = read_.load(std::memory_order_relaxed);
        const uint64_t w = write_.load(std::memory_order_acquire);
        if (count > w - r) count = static_cast<uint32_t>(w - r);
        if (dst) copyOut(r, dst, count);
        read_.store(r + count, std::memory_order_release);
        return count;
    }

private:
    void copyIn(uint64_t at, const uint32_t* src, uint32_t count)
    {
        const uint32_t slot = static_cast<uint32_t>(at & (capacity_ - 1));
        const uint32_t first = count < capacity_ - slot ? count : capacity_ - slot;
        std::memcpy(&frames_[slot], src, first * sizeof(uint32_t));
        std::memcpy(&frames_[0], src + first, (count - first) * sizeof(uint32_t));
    }

    void copyOut(uint64_t at, uint32_t* dst, uint32_t count) const
    {
        const uint32_t slot = static_cast<uint32_t>(at & (capacity_ - 1));
        const uint32_t first = count < capacity_ - slot ? count : capacity_ - slot;
        std::memcpy(dst, &frames_[slot], first * sizeof(uint32_t));
        std::memcpy(dst + first, &frames_[0], (count - first) * sizeof(uint32_t));
    }

    uint32_t capacity_;
    std::unique_ptr<uint32_t[]> frames_;
    // Apart, so the two sides don't share a cache line.
    alignas(64) std::atomic<uint64_t> write_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
};

} // namespace soundlib
