// Linux audio backends behind the output types: driver lists and one open
// device stream through RtAudio (ALSA, PulseAudio, JACK). Every probe and
// open is quiet: ALSA's, JACK's and RtAudio's own printers are silenced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RtAudio;

namespace soundlib {

class Engine;

// Output types as the program passes them.
enum OutputType : int {
    kOutputNull = 0,
    kOutputAlsa = 1,
    kOutputPulse = 2,
    kOutputAlsaToo = 6,
    kOutputJack = 7,
};

bool isKnownOutput(int outputType);

struct Driver {
    std::string name;
    unsigned deviceIndex;  // the backend's own device number
};

// The output devices of a backend, the default one first; empty when the
// backend can't be reached (no server). Never prints, never starts a server.
std::vector<Driver> probeDrivers(int outputType);

// Error codes the layer reports (the program's error-text table).
enum ErrorCode : int {
    kErrNone = 0,
    kErrAlreadyInitialised = 1,
    kErrNotInitialised = 2,
    kErrInitDevice = 3,
    kErrDeviceBusy = 4,
    kErrPlay = 5,
    kErrUnsupportedFormat = 6,
    kErrMemory = 12,
    kErrInvalidParam = 14,
    kErrNoChannel = 16,
};

// The error code for the text of a failed open: a busy device 4, a rate,
// format or channel count it refuses 6, anything else 3.
int openErrorCode(const std::string& text);

// One open 16-bit stereo output stream on a backend device. Open at init,
// started when the stream plays; its audio callback only calls
// Engine::deviceRequest().
class Device {
public:
    // Opens `driver` at `sampleRate`, asking for two periods of blockFrames;
    // a device that grants more than maxBufferFrames in all is opened again
    // with periods that come to at most reopenBufferFrames. Null with *error
    // set on failure.
    static Device* open(int outputType, const Driver& driver, int sampleRate, uint32_t blockFrames,
                        uint32_t maxBufferFrames, uint32_t reopenBufferFrames, int* error);
    ~Device();

    // Start pulling from `engine`; false when the backend refuses.
    bool start(Engine* engine);
    // Close the stream, giving up after timeoutMs (a hung server); true when
    // closed. The device may only be freed when it is.
    bool close(int timeoutMs);

    // Frames of buffering the backend granted (period x periods for ALSA and
    // PulseAudio, the server's period for JACK).
    uint32_t bufferFrames() const { return bufferFrames_; }

private:
    Device() = default;
    static int audioCallback(void* out, void* in, unsigned int frames, double time,
                             unsigned int status, void* userData);

    std::unique_ptr<RtAudio> rt_;
    uint32_t bufferFrames_ = 0;
    Engine* engine_ = nullptr;  // set before the stream starts
    bool jack_ = false;
    bool threadRaised_ = false;  // audio thread only
};

// Silence ALSA's and JACK's printers and keep libjack from starting a
// server; done once, before any probe.
void quietBackends();

} // namespace soundlib
