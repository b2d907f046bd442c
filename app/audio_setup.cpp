#include "app/audio_setup.h"

#include "app/globals.h"
#include "audio/fsound.h"
#include "platform/keyboard/console_keyboard.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr float requiredVersion = 3.74f;
constexpr int escKey = 27;
const char* const dashLine = "---------------------------------------------------------\n";
const char* const pressPrompt = "Press a corresponding number or ESC to quit\n";

struct OutputChoice {
    char key;
    const char* menuLine;
    int outputType;
};

const OutputChoice outputChoices[] = {
    {'1', "1 - Direct Sound\n", 2},
    {'2', "2 - Windows Multimedia Waveout\n", 1},
    {'3', "3 - ASIO\n", 7},
    {'4', "4 - NoSound\n", 0},
};

// Heading name for the output type the library reports; empty for the
// values it has no name for.
// One key at a menu. A menu that cannot read keys (no terminal, or it went
// away) would otherwise wait for ever, so it ends the program instead.
signed char readMenuKey()
{
    const int key = consoleReadKey();
    if (key < 0) {
        std::printf("Cannot read keys from the terminal: %s\n", consoleKeyboardError());
        std::exit(1);
    }
    // Keys are signed 8-bit characters: codes above 127 match no menu key.
    return static_cast<signed char>(key);
}

const char* outputName(int outputType)
{
    switch (outputType) {
    case 0: return "NoSound";
    case 1: return "Windows Multimedia Waveout";
    case 2: return "Direct Sound";
    case 4: return "Open Sound System";
    case 5: return "Enlightment Sound Daemon";
    case 6: return "Alsa";
    case 7: return "ASIO";
    default: return "";
    }
}

const OutputChoice* chooseOutput()
{
    for (;;) {
        const signed char key = readMenuKey();
        if (key == escKey)
            std::exit(0);
        for (const OutputChoice& choice : outputChoices)
            if (key == choice.key)
                return &choice;
    }
}

int chooseDriver()
{
    for (;;) {
        const signed char key = readMenuKey();
        if (key == escKey)
            std::exit(0);
        // Drivers are numbered from '1' in character order, so the tenth is
        // ':' and so on; prefixes of function keys (0, and 224 as -32) fall
        // below '1' and are ignored.
        const int index = key - '1';
        if (index >= 0 && index < FSOUND_GetNumDrivers())
            return index;
    }
}

}  // namespace

const char* errorString(int code)
{
    static const char* const texts[] = {
        "No errors",
        "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
        "This command failed because FSOUND_Init was not called",
        "Error initializing output device.",
        "The output device is already in use and cannot be reused.",
        "Playing the sound failed.",
        "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
        "Error setting cooperative level for hardware.",
        "Error creating hardware sound buffer.",
        "File not found",
        "Unknown file format",
        "Error loading file",
        "Not enough memory ",
        "The version number of this file format is not supported",
        "An invalid parameter was passed to this function",
        "Tried to use an EAX command on a non EAX enabled channel or output.",
        "Failed to allocate a new channel",
        "Recording not supported on this device",
        "Required Mediaplayer codec is not installed",
    };
    // Compared unsigned, so every negative code is unknown too.
    const unsigned index = static_cast<unsigned>(code);
    return index < sizeof texts / sizeof texts[0] ? texts[index] : "Unknown error";
}

bool initAudio()
{
    if (FSOUND_GetVersion() < requiredVersion) {
        std::printf("Error : You are using the wrong DLL version!  You should be using FMOD %.02f\n",
                    static_cast<double>(requiredVersion));
        return false;
    }

    std::printf("%sOutput Type\n%s", dashLine, dashLine);
    for (const OutputChoice& choice : outputChoices)
        std::printf("%s", choice.menuLine);
    std::printf("%s%s", dashLine, pressPrompt);

    FSOUND_SetOutput(chooseOutput()->outputType);

    std::printf("%s%s Driver list\n%s", dashLine, outputName(FSOUND_GetOutput()), dashLine);
    for (int i = 0; i < FSOUND_GetNumDrivers(); ++i) {
        const char* name = FSOUND_GetDriverName(i);
        std::printf("%d - %s\n", i + 1, name ? name : "");
    }
    std::printf("%s%s", dashLine, pressPrompt);

    FSOUND_SetDriver(chooseDriver());
    if (FSOUND_Init(mixRate, 32, 0))
        return true;
    std::printf("Error!\n%s\n", errorString(FSOUND_GetError()));
    return false;
}
