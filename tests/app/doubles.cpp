#include "doubles.h"

#include "audio/fsound.h"
#include "platform/keyboard/console_keyboard.h"

FakeSoundLib fakeSound;
std::deque<int> fakeKeys;

namespace {
int chosenOutput = -1;

void record(const std::string& call) { fakeSound.calls.push_back(call); }
}  // namespace

extern "C" {

float FSOUND_GetVersion(void) { record("GetVersion"); return fakeSound.version; }

fsound_bool FSOUND_SetOutput(int outputType)
{
    record("SetOutput(" + std::to_string(outputType) + ")");
    chosenOutput = outputType;
    return 1;
}

int FSOUND_GetOutput(void) { return fakeSound.reportChosenOutput ? chosenOutput : fakeSound.reportedOutput; }

int FSOUND_GetNumDrivers(void) { return static_cast<int>(fakeSound.drivers.size()); }

const char* FSOUND_GetDriverName(int driver)
{
    if (driver < 0 || driver >= FSOUND_GetNumDrivers())
        return nullptr;
    return fakeSound.drivers[static_cast<std::size_t>(driver)].c_str();
}

fsound_bool FSOUND_SetDriver(int driver) { record("SetDriver(" + std::to_string(driver) + ")"); return 1; }

fsound_bool FSOUND_Init(int mixRate, int maxChannels, unsigned int flags)
{
    record("Init(" + std::to_string(mixRate) + "," + std::to_string(maxChannels) + "," +
           std::to_string(flags) + ")");
    return fakeSound.initSucceeds ? 1 : 0;
}

FSOUND_STREAM* FSOUND_Stream_Create(FSOUND_STREAMCALLBACK, int, unsigned int, int, void*) { return nullptr; }
int FSOUND_Stream_Play(int, FSOUND_STREAM*) { return -1; }
int FSOUND_GetError(void) { record("GetError"); return fakeSound.errorCode; }

}  // extern "C"

bool openConsoleKeyboard() { return true; }
const char* consoleKeyboardError() { return "no terminal in this test"; }
bool consoleKeyWaiting() { return !fakeKeys.empty(); }
void consoleWaitForKey() {}

int consoleReadKey()
{
    if (fakeKeys.empty())
        return -1;
    const int key = fakeKeys.front();
    fakeKeys.pop_front();
    return key;
}
