#include "platform/soundlib/backend.h"

#include "platform/soundlib/engine.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtaudio/RtAudio.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <thread>

namespace soundlib {

namespace {

void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
void silentJack(const char*) {}

RtAudio::Api apiOf(int outputType)
{
    switch (outputType) {
    case kOutputAlsa:
    case kOutputAlsaToo: return RtAudio::LINUX_ALSA;
    case kOutputPulse: return RtAudio::LINUX_PULSE;
    case kOutputJack: return RtAudio::UNIX_JACK;
    default: return RtAudio::UNSPECIFIED;
    }
}

std::unique_ptr<RtAudio> makeRtAudio(RtAudio::Api api)
{
    try {
        std::unique_ptr<RtAudio> rt(new RtAudio(api));
        rt->showWarnings(false);
        if (rt->getCurrentApi() != api) return nullptr;
        return rt;
    } catch (const RtAudioError&) {
        return nullptr;
    }
}

// The device whose stream plays; the RtAudio error callback has no user
// pointer, and there is one output at a time.
std::atomic<Device*> playingDevice{nullptr};
std::atomic<Engine*> playingEngine{nullptr};
// Text of an error raised while a stream opens (control thread only).
std::string openErrorText;
std::atomic<bool> opening{false};

void onRtAudioError(RtAudioError::Type type, const std::string& text)
{
    if (opening.load(std::memory_order_acquire)) {
        openErrorText = text;
        return;
    }
    // On a backend thread while playing: set flags only.
    Engine* engine = playingEngine.load(std::memory_order_acquire);
    if (!engine) return;
    if (type == RtAudioError::WARNING && text.find("underrun") != std::string::npos)
        engine->deviceUnderflow();
    else
        engine->backendFailed();
}

bool contains(const std::string& text, const char* word)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(word) != std::string::npos;
}

} // namespace

int openErrorCode(const std::string& text)
{
    if (contains(text, "busy")) return kErrDeviceBusy;
    if (contains(text, "sample rate") || contains(text, "format") || contains(text, "channel"))
        return kErrUnsupportedFormat;
    return kErrInitDevice;
}

bool isKnownOutput(int outputType)
{
    return outputType == kOutputNull || apiOf(outputType) != RtAudio::UNSPECIFIED;
}

void quietBackends()
{
    static bool done = false;
    if (done) return;
    done = true;
    snd_lib_error_set_handler(&silentAlsa);
    jack_set_error_function(&silentJack);
    jack_set_info_function(&silentJack);
    // A dialog that lists JACK ports must not start a JACK server.
    setenv("JACK_NO_START_SERVER", "1", 0);
    // RtAudio writes some news straight to std::cerr, past showWarnings (a
    // JACK server shutting its client down). The terminal is the program's:
    // nothing of ours writes to std::cerr, so it is muted for good.
    std::cerr.rdbuf(nullptr);
    // That JACK news is written on libjack's notification thread while a
    // helper RtAudio has just started closes the client, which cancels that
    // very thread asynchronously. A cancel landing inside the stream insert
    // ends the process ("terminate called without an active exception"), so
    // the write is kept as short as it goes: no unit-buffer flush (which
    // looks up the thread's exception state) and no tied stream to flush.
    std::cerr.unsetf(std::ios::unitbuf);
    std::cerr.tie(nullptr);
}

std::vector<Driver> probeDrivers(int outputType)
{
    quietBackends();
    std::vector<Driver> drivers;
    if (outputType == kOutputNull) {
        drivers.push_back({"No sound (null output)", 0});
        return drivers;
    }
    std::unique_ptr<RtAudio> rt = makeRtAudio(apiOf(outputType));
    if (!rt) return drivers;
    try {
        const unsigned count = rt->getDeviceCount();
        std::vector<Driver> others;
        for (unsigned i = 0; i < count; ++i) {
            const RtAudio::DeviceInfo info = rt->getDeviceInfo(i);
            if (!info.probed || info.outputChannels == 0) continue;
            (info.isDefaultOutput && drivers.empty() ? drivers : others).push_back({info.name, i});
        }
        drivers.insert(drivers.end(), others.begin(), others.end());
    } catch (const RtAudioError&) {
        drivers.clear();
    }
    return drivers;
}

Device* Device::open(int outputType, const Driver& driver, int sampleRate, uint32_t blockFrames,
                     uint32_t maxBufferFrames, uint32_t reopenBufferFrames, int* error)
{
    quietBackends();
    std::unique_ptr<Device> device(new Device);
    device->rt_ = makeRtAudio(apiOf(outputType));
    if (!device->rt_) {
        *error = kErrInitDevice;
        return nullptr;
    }
    RtAudio& rt = *device->rt_;
    device->jack_ = outputType == kOutputJack;
    try {
        // The list may be stale: the device must still be there, by name.
        if (driver.deviceIndex >= rt.getDeviceCount()) {
            *error = kErrInitDevice;
            return nullptr;
        }
        const RtAudio::DeviceInfo info = rt.getDeviceInfo(driver.deviceIndex);
        if (!info.probed || info.name != driver.name) {
            *error = kErrInitDevice;
            return nullptr;
        }
        const bool rateOk = std::find(info.sampleRates.begin(), info.sampleRates.end(),
                                      static_cast<unsigned>(sampleRate)) != info.sampleRates.end();
        if (info.outputChannels < 2 || !rateOk) {
            *error = kErrUnsupportedFormat;
            return nullptr;
        }

        RtAudio::StreamParameters out;
        out.deviceId = driver.deviceIndex;
        out.nChannels = 2;
        out.firstChannel = 0;
        // Two periods of one block each: the backend's share of the buffering
        // (ALSA's buffer, PulseAudio's maxlength). JACK uses its own period.
        // A device that insists on more periods (ALSA's PulseAudio plugin,
        // three) is opened again with shorter ones.
        unsigned int period = blockFrames;
        for (int attempt = 0; attempt < 2; ++attempt) {
            RtAudio::StreamOptions options;
            options.streamName = "fmscope";
            options.numberOfBuffers = 2;
            unsigned int frames = period;
            openErrorText.clear();
            opening.store(true, std::memory_order_release);
            rt.openStream(&out, nullptr, RTAUDIO_SINT16, static_cast<unsigned>(sampleRate), &frames,
                          &Device::audioCallback, device.get(), &options, &onRtAudioError);
            opening.store(false, std::memory_order_release);
            if (!rt.isStreamOpen()) {
                *error = openErrorCode(openErrorText);
                return nullptr;
            }
            const unsigned periods =
                outputType == kOutputJack || options.numberOfBuffers == 0 ? 1 : options.numberOfBuffers;
            device->bufferFrames_ = frames * periods;
            if (outputType == kOutputJack || device->bufferFrames_ <= maxBufferFrames || attempt == 1)
                break;
            rt.closeStream();
            period = reopenBufferFrames / periods;
        }
    } catch (const RtAudioError& e) {
        opening.store(false, std::memory_order_release);
        *error = openErrorCode(e.getMessage());
        return nullptr;
    }
    return device.release();
}

Device::~Device() = default;

bool Device::start(Engine* engine)
{
    engine_ = engine;
    playingEngine.store(engine, std::memory_order_release);
    playingDevice.store(this, std::memory_order_release);
    try {
        rt_->startStream();
    } catch (const RtAudioError&) {
        playingEngine.store(nullptr, std::memory_order_release);
        playingDevice.store(nullptr, std::memory_order_release);
        return false;
    }
    return rt_->isStreamRunning();
}

bool Device::close(int timeoutMs)
{
    if (playingDevice.load() == this) {
        playingDevice.store(nullptr);
        playingEngine.store(nullptr);
    }
    // Closing joins the backend's thread, which a hung server can hold in a
    // blocking write: close on a helper and give up waiting after a while.
    auto done = std::make_shared<std::atomic<bool>>(false);
    RtAudio* rt = rt_.get();
    std::thread closer([rt, done] {
        try {
            if (rt->isStreamOpen()) rt->closeStream();
        } catch (const RtAudioError&) {
        }
        done->store(true, std::memory_order_release);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done->load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!done->load(std::memory_order_acquire)) {
        closer.detach();
        return false;
    }
    closer.join();
    return true;
}

int Device::audioCallback(void* out, void*, unsigned int frames, double, unsigned int status,
                          void* userData)
{
    Device* device = static_cast<Device*>(userData);
    Engine* engine = device->engine_;
    if (!engine) {
        std::fill_n(static_cast<int16_t*>(out), size_t{frames} * 2, int16_t{0});
        return 0;
    }
    if (!device->threadRaised_) {
        // RtAudio's own thread (ALSA, PulseAudio) only copies: real-time
        // class where allowed, set once. RtAudio's flag for this prints a
        // line on success, so it is done here. JACK's thread is the server's
        // business.
        device->threadRaised_ = true;
        if (!device->jack_) {
            sched_param param{};
            param.sched_priority = 10;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        }
    }
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) engine->deviceUnderflow();
    engine->deviceRequest(out, frames);
    // A failed backend stops its own thread instead of spinning on a dead
    // connection; the streamer's clock carries on.
    return engine->hasFailed() ? 2 : 0;
}

} // namespace soundlib
