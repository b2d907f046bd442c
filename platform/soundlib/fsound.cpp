// The sound library's C surface: output and driver choice, init, the user
// stream, the last error code. All calls are for one control thread; the
// status query may come from any thread.
#include "audio/fsound.h"

#include "platform/soundlib/backend.h"
#include "platform/soundlib/engine.h"
#include "platform/soundlib/status_file.h"
#include "platform/soundlib/soundlib_extras.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <vector>

struct FSOUND_STREAM {
    soundlib::Engine* engine;
    int channel;
    bool playing;
};

namespace soundlib {
namespace {

constexpr float kVersion = 3.74f;
// Stream mode bits the layer knows: 16-bit, stereo, signed samples, and a
// placement bit that means nothing to a single stereo stream.
constexpr unsigned kMode16Bits = 0x10;
constexpr unsigned kModeStereo = 0x40;
constexpr unsigned kModeSigned = 0x100;
constexpr unsigned kModePlacement = 0x01000000;
constexpr unsigned kModeRequired = kMode16Bits | kModeStereo | kModeSigned;
constexpr unsigned kModeKnown = kModeRequired | kModePlacement;
constexpr int kMaxStreamBytes = 16 << 20;
constexpr int kMinRate = 4000;
constexpr int kMaxRate = 192000;
// 12.5 ms per callback (80 redraws a second): every callback also redraws
// the window, and each block costs the streamer and the backend a round of
// wake-ups, so blocks are as long as the 50 ms budget allows. The backend's
// buffer takes two blocks; the streamer's ring takes the rest of the budget,
// at least two blocks and at most four. A device may take a whole buffer in
// a burst after a stall, and the ring's low-water mark (its lead less the
// block being rendered) is what it finds then: a backend that insists on
// more, shorter periods than asked for (ALSA's PulseAudio plugin, three) is
// cut until that mark covers its whole buffer. PulseAudio keeps its two
// blocks (its client costs CPU per write): 25 + 25 ms; ALSA on the plugin
// 31.3 + 18.7 ms; JACK 44.2 + 5.8 ms at a 256-frame period; null 50 ms.
constexpr int kBlocksPerSecond = 80;
constexpr uint32_t kMinLeadBlocks = 2;
constexpr uint32_t kMaxLeadBlocks = 4;
constexpr int kBufferingBudgetMs = 50;
constexpr int kDefaultOutput = kOutputPulse;
// Bounded waits, so that neither a stuck callback nor a hung server holds
// the caller or the process exit.
constexpr int kPrefillTimeoutMs = 2000;
constexpr int kStopTimeoutMs = 1000;

struct Library {
    std::mutex mutex;
    int output = kDefaultOutput;
    int driver = 0;
    bool initialised = false;
    int rate = 0;
    int maxChannels = 0;
    std::map<int, std::vector<Driver>> drivers;  // probed once per output type
    Device* device = nullptr;
    std::vector<FSOUND_STREAM*> streams;
    FSOUND_STREAM* playing = nullptr;
    bool exitHookSet = false;
    std::atomic<int> lastError{kErrNone};
    std::atomic<uint32_t> backendFrames{0};
};

// Never destroyed: the streamer and the backend threads may still run while
// the process exits.
Library& lib()
{
    static Library* library = new Library;
    return *library;
}

template <typename T> T fail(int code, T result)
{
    lib().lastError.store(code, std::memory_order_relaxed);
    return result;
}

const std::vector<Driver>& driversOf(Library& l, int output)
{
    auto it = l.drivers.find(output);
    if (it == l.drivers.end()) it = l.drivers.emplace(output, probeDrivers(output)).first;
    return it->second;
}

uint32_t blockFramesFor(int rate) { return static_cast<uint32_t>(rate / kBlocksPerSecond); }

// Stop the playing stream and close the device. Returns false when a thread
// would not stop in time; its objects are then left alive.
bool stopEverything(Library& l)
{
    bool clean = true;
    FSOUND_STREAM* s = l.playing;
    if (s) {
        clean = s->engine->stopStreamer(kStopTimeoutMs) && clean;
        s->engine->mute();
        clean = s->engine->stopNullOutput(kStopTimeoutMs) && clean;
    }
    if (l.device) {
        if (l.device->close(kStopTimeoutMs))
            delete l.device;
        else
            clean = false;
        l.device = nullptr;
    }
    return clean;
}

// At process exit the program's atexit functions (its video shutdown among
// them) run after this one, registered last: stop calling the callback
// first, then let the device go.
void atExit()
{
    Library& l = lib();
    std::unique_lock<std::mutex> lock(l.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    stopEverything(l);
}

} // namespace
} // namespace soundlib

using namespace soundlib;

extern "C" {

float FSOUND_GetVersion(void) { return kVersion; }

fsound_bool FSOUND_SetOutput(int outputType)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.initialised) return fail<fsound_bool>(kErrAlreadyInitialised, 0);
    if (!isKnownOutput(outputType)) return fail<fsound_bool>(kErrInvalidParam, 0);
    if (outputType != l.output) l.driver = 0;
    l.output = outputType;
    return 1;
}

int FSOUND_GetOutput(void)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.output;
}

int FSOUND_GetNumDrivers(void)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    return static_cast<int>(driversOf(l, l.output).size());
}

const char* FSOUND_GetDriverName(int driver)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    const std::vector<Driver>& list = driversOf(l, l.output);
    if (driver < 0 || static_cast<size_t>(driver) >= list.size())
        return fail<const char*>(kErrInvalidParam, nullptr);
    return list[static_cast<size_t>(driver)].name.c_str();
}

fsound_bool FSOUND_SetDriver(int driver)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.initialised) return fail<fsound_bool>(kErrAlreadyInitialised, 0);
    const std::vector<Driver>& list = driversOf(l, l.output);
    if (driver < 0 || static_cast<size_t>(driver) >= list.size())
        return fail<fsound_bool>(kErrInvalidParam, 0);
    l.driver = driver;
    return 1;
}

fsound_bool FSOUND_Init(int mixRate, int maxChannels, unsigned int flags)
{
    (void)flags;  // no init option changes a single stereo stream
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.initialised) return fail<fsound_bool>(kErrAlreadyInitialised, 0);
    if (mixRate <= 0 || maxChannels < 0 || maxChannels > 1024)
        return fail<fsound_bool>(kErrInvalidParam, 0);
    if (mixRate < kMinRate || mixRate > kMaxRate) return fail<fsound_bool>(kErrUnsupportedFormat, 0);

    if (l.output != kOutputNull) {
        const std::vector<Driver>& list = driversOf(l, l.output);
        if (static_cast<size_t>(l.driver) >= list.size()) return fail<fsound_bool>(kErrInitDevice, 0);
        int error = kErrInitDevice;
        Device* device = nullptr;
        try {
            const uint32_t block = blockFramesFor(mixRate);
            const uint32_t budget = static_cast<uint32_t>(mixRate * kBufferingBudgetMs / 1000);
            device = Device::open(l.output, list[static_cast<size_t>(l.driver)], mixRate, block,
                                  budget - kMinLeadBlocks * block, (budget - block) / 2, &error);
        } catch (const std::bad_alloc&) {
            error = kErrMemory;
        }
        if (!device) return fail<fsound_bool>(error, 0);
        l.device = device;
        l.backendFrames.store(device->bufferFrames(), std::memory_order_relaxed);
    }
    l.rate = mixRate;
    l.maxChannels = maxChannels;
    l.initialised = true;
    return 1;
}

FSOUND_STREAM* FSOUND_Stream_Create(FSOUND_STREAMCALLBACK callback, int length, unsigned int mode,
                                    int sampleRate, void* userData)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.initialised) return fail<FSOUND_STREAM*>(kErrNotInitialised, nullptr);
    if (!callback || length < 4 || length % 4 != 0 || length > kMaxStreamBytes ||
        (mode & kModeRequired) != kModeRequired || (mode & ~kModeKnown) != 0 ||
        sampleRate != l.rate)
        return fail<FSOUND_STREAM*>(kErrInvalidParam, nullptr);

    // The stream length bounds what is ever buffered; it is not the latency.
    const uint32_t lengthFrames = static_cast<uint32_t>(length / 4);
    uint32_t block = blockFramesFor(l.rate);
    if (block > lengthFrames) block = lengthFrames;
    const uint32_t budget = static_cast<uint32_t>(l.rate * kBufferingBudgetMs / 1000);
    const uint32_t backend = l.backendFrames.load(std::memory_order_relaxed);
    uint32_t lead = backend < budget ? budget - backend : 0;
    if (lead < kMinLeadBlocks * block) lead = kMinLeadBlocks * block;
    if (lead > kMaxLeadBlocks * block) lead = kMaxLeadBlocks * block;
    if (lead > lengthFrames) lead = lengthFrames;
    try {
        FSOUND_STREAM* stream = new FSOUND_STREAM{nullptr, -1, false};
        // Room for the device's first fill on top of the lead, within the
        // stream length.
        const uint32_t deviceFrames = l.backendFrames.load(std::memory_order_relaxed);
        const uint32_t extra = deviceFrames < lengthFrames - lead ? deviceFrames : lengthFrames - lead;
        stream->engine = new Engine(stream, callback, userData, l.rate, block, lead, extra);
        l.streams.push_back(stream);
        return stream;
    } catch (const std::bad_alloc&) {
        return fail<FSOUND_STREAM*>(kErrMemory, nullptr);
    }
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.initialised) return fail(kErrNotInitialised, -1);
    bool known = false;
    for (FSOUND_STREAM* s : l.streams) known = known || s == stream;
    // -1 asks for any free channel.
    if (!known || channel < -1 || (l.maxChannels > 0 && channel >= l.maxChannels))
        return fail(kErrInvalidParam, -1);
    if (stream->playing) return stream->channel;
    if (l.playing) return fail(kErrNoChannel, -1);

    if (!l.exitHookSet) {
        std::atexit(&atExit);
        l.exitHookSet = true;
    }
    Engine& engine = *stream->engine;
    // Prefill before the device pulls, so that playback starts without an
    // underrun.
    engine.startStreamer(l.backendFrames.load(std::memory_order_relaxed), kPrefillTimeoutMs);
    bool started;
    if (l.device) {
        started = l.device->start(&engine);
    } else {
        engine.startNullOutput();
        started = true;
    }
    if (!started) {
        if (!engine.stopStreamer(kStopTimeoutMs)) {
            // The callback is stuck: leave this stream alone for good.
            l.playing = stream;
            stream->playing = true;
        }
        return fail(kErrPlay, -1);
    }
    engine.deviceStarted();
    stream->channel = channel < 0 ? 0 : channel;
    stream->playing = true;
    l.playing = stream;
    startStatusFile();
    return stream->channel;
}

int FSOUND_GetError(void) { return lib().lastError.load(std::memory_order_relaxed); }

int soundlib_GetStatus(SoundlibStatus* status)
{
    if (!status) return 0;
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    *status = SoundlibStatus{};
    status->outputType = l.output;
    status->initialised = l.initialised;
    status->sampleRate = l.rate;
    status->backendFrames = static_cast<int>(l.backendFrames.load(std::memory_order_relaxed));
    const Engine* engine = l.playing ? l.playing->engine
                           : l.streams.empty() ? nullptr
                                               : l.streams.back()->engine;
    if (engine) {
        const Engine::Counters c = engine->counters();
        status->playing = l.playing != nullptr;
        status->blockFrames = static_cast<int>(engine->blockFrames());
        status->ringLeadFrames = static_cast<int>(engine->leadFrames());
        status->callbacks = c.callbacks;
        status->framesRendered = c.rendered;
        status->framesDelivered = c.delivered;
        status->underruns = c.underruns;
        status->underrunFrames = c.underrunFrames;
        status->deviceUnderflows = c.deviceUnderflows;
        status->backendFailed = engine->hasFailed();
        status->clockFallback = c.clockFallback;
    } else if (l.initialised) {
        status->blockFrames = static_cast<int>(blockFramesFor(l.rate));
        status->ringLeadFrames = status->blockFrames * static_cast<int>(kMinLeadBlocks);
    }
    if (l.rate > 0)
        status->bufferingMs =
            1000.0 * (status->ringLeadFrames + status->backendFrames) / l.rate;
    return 1;
}

void soundlib_Shutdown(void)
{
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    const bool clean = stopEverything(l);
    for (FSOUND_STREAM* s : l.streams) {
        // A stream whose threads would not stop stays allocated.
        if (clean || s != l.playing) {
            delete s->engine;
            delete s;
        }
    }
    l.streams.clear();
    l.playing = nullptr;
    l.drivers.clear();
    l.output = kDefaultOutput;
    l.driver = 0;
    l.initialised = false;
    l.rate = 0;
    l.maxChannels = 0;
    l.backendFrames.store(0, std::memory_order_relaxed);
    l.lastError.store(kErrNone, std::memory_order_relaxed);
}

} // extern "C"
