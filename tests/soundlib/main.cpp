// Test runner; `--child=NAME` runs one scenario that needs a process of its
// own (process exit, a console that must stay silent) instead of the tests.
#include "helpers.h"

#include "audio/fsound.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// List every output type's drivers and try to open them. Exit status 0 when
// JACK (not running for this child) lists none.
int probeEverything()
{
    int jackDrivers = -1;
    for (int output : {0, 1, 2, 6, 7, 3, -1}) {
        FSOUND_SetOutput(output);
        const int count = FSOUND_GetNumDrivers();
        for (int i = 0; i < count; ++i) FSOUND_GetDriverName(i);
        if (FSOUND_GetOutput() == 7) jackDrivers = count;
    }
    FSOUND_SetOutput(7);
    if (FSOUND_Init(44100, 32, 0)) return 2;
    return jackDrivers == 0 ? 0 : 3;
}

std::atomic<bool> tornDown{false};

// Stands for the program's video shutdown, registered at exit before the
// stream exists: no callback may come after it.
void teardown() { tornDown.store(true); }

fsound_bool exitCallback(FSOUND_STREAM*, void* buffer, int length, void*)
{
    if (tornDown.load()) _exit(42);
    std::memset(buffer, 0, static_cast<size_t>(length));
    return 1;
}

// Play on `output` and leave through exit() while everything runs.
int playThenExit(int output)
{
    std::atexit(&teardown);
    if (!FSOUND_SetOutput(output) || !FSOUND_Init(44100, 32, 0)) return 3;
    FSOUND_STREAM* stream = FSOUND_Stream_Create(&exitCallback, 65536, 0x01000150, 44100, nullptr);
    if (FSOUND_Stream_Play(0, stream) == -1) return 4;
    usleep(300 * 1000);
    std::exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    selfPath = argv[0];
    if (argc > 1 && std::strncmp(argv[1], "--child=", 8) == 0) {
        const std::string name = argv[1] + 8;
        if (name == "probe") return probeEverything();
        if (name.rfind("exit:", 0) == 0) return playThenExit(std::atoi(name.c_str() + 5));
        return 99;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
