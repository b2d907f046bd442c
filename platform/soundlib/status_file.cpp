#include "platform/soundlib/status_file.h"

#include "platform/soundlib/soundlib_extras.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace soundlib {

namespace {

void writeStatus(const std::string& path)
{
    SoundlibStatus s{};
    soundlib_GetStatus(&s);
    const std::string partial = path + ".partial";
    std::FILE* f = std::fopen(partial.c_str(), "w");
    if (!f)
        return;
    std::fprintf(f,
                 "outputType=%d\nplaying=%d\nsampleRate=%d\nblockFrames=%d\nringLeadFrames=%d\n"
                 "backendFrames=%d\nbufferingMs=%.2f\ncallbacks=%llu\nframesRendered=%llu\n"
                 "framesDelivered=%llu\nunderruns=%llu\nunderrunFrames=%llu\ndeviceUnderflows=%llu\n"
                 "backendFailed=%d\nclockFallback=%d\n",
                 s.outputType, s.playing, s.sampleRate, s.blockFrames, s.ringLeadFrames, s.backendFrames,
                 s.bufferingMs, s.callbacks, s.framesRendered, s.framesDelivered, s.underruns,
                 s.underrunFrames, s.deviceUnderflows, s.backendFailed, s.clockFallback);
    std::fclose(f);
    std::rename(partial.c_str(), path.c_str());  // readers never see half a file
}

}  // namespace

void startStatusFile()
{
    static bool started = false;
    const char* path = std::getenv("FMSCOPE_SOUNDLIB_STATUS");
    if (started || !path || !*path)
        return;
    started = true;
    std::thread([file = std::string(path)] {
        for (;;) {
            writeStatus(file);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }).detach();
}

}  // namespace soundlib
