// The device selection dialog: its texts byte for byte, its keys, its ends.
#include "app/audio_setup.h"
#include "doubles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string dash = "---------------------------------------------------------\n";
const std::string prompt = "Press a corresponding number or ESC to quit\n";
const std::string outputMenu = dash + "Output Type\n" + dash + "1 - Direct Sound\n" +
                               "2 - Windows Multimedia Waveout\n" + "3 - ASIO\n" + "4 - NoSound\n" +
                               dash + prompt;
constexpr int esc = 27;

class Dialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeSound = FakeSoundLib{};
        fakeKeys.clear();
    }

    // Runs the dialog and returns what it printed.
    std::string run(bool expectedResult)
    {
        ::testing::internal::CaptureStdout();
        const bool result = initAudio();
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, expectedResult);
        return out;
    }
};

}  // namespace

TEST_F(Dialog, NoSoundWithOneDriverInitialises)
{
    fakeSound.drivers = {"No sound (null output)"};
    fakeKeys = {'4', '1'};
    const std::string out = run(true);
    EXPECT_EQ(out, outputMenu + dash + "NoSound Driver list\n" + dash + "1 - No sound (null output)\n" +
                       dash + prompt);
    EXPECT_EQ(fakeSound.calls,
              (std::vector<std::string>{"GetVersion", "SetOutput(0)", "SetDriver(0)", "Init(44100,32,0)"}));
}

TEST_F(Dialog, VersionCheck)
{
    const struct {
        float version;
        bool passes;
    } cases[] = {{3.73f, false}, {3.74f, true}, {3.75f, true}, {4.0f, true}, {0.0f, false}};
    for (const auto& c : cases) {
        SetUp();
        fakeSound.version = c.version;
        fakeKeys = {'4', '1'};
        const std::string out = run(c.passes);
        if (c.passes) {
            EXPECT_EQ(out.substr(0, outputMenu.size()), outputMenu) << c.version;
        } else {
            EXPECT_EQ(out, "Error : You are using the wrong DLL version!  You should be using FMOD 3.74\n");
            EXPECT_EQ(fakeSound.calls, std::vector<std::string>{"GetVersion"}) << "no call after the check";
        }
    }
}

TEST_F(Dialog, OutputKeysMapToOutputTypes)
{
    const struct {
        int key;
        const char* call;
        const char* heading;
    } cases[] = {{'1', "SetOutput(2)", "Direct Sound Driver list\n"},
                 {'2', "SetOutput(1)", "Windows Multimedia Waveout Driver list\n"},
                 {'3', "SetOutput(7)", "ASIO Driver list\n"},
                 {'4', "SetOutput(0)", "NoSound Driver list\n"}};
    for (const auto& c : cases) {
        SetUp();
        fakeKeys = {c.key, '1'};
        const std::string out = run(true);
        EXPECT_EQ(fakeSound.calls.at(1), c.call);
        EXPECT_NE(out.find(dash + c.heading + dash), std::string::npos) << out;
    }
}

TEST_F(Dialog, OutputPromptIgnoresEveryOtherKey)
{
    // Digits outside 1-4, letters, Enter, space, function-key prefixes and
    // bytes above 127 (negative as signed characters).
    fakeKeys = {'0', '5', '9', 'a', '\r', '\n', ' ', 0, 224, 200, 255, '3', '1'};
    const std::string out = run(true);
    EXPECT_EQ(fakeSound.calls.at(1), "SetOutput(7)");
    EXPECT_EQ(out.substr(0, outputMenu.size()), outputMenu);
}

TEST_F(Dialog, HeadingNamesTheOutputTheLibraryReports)
{
    const struct {
        int reported;
        const char* heading;
    } cases[] = {{0, "NoSound"},
                 {1, "Windows Multimedia Waveout"},
                 {2, "Direct Sound"},
                 {3, ""},
                 {4, "Open Sound System"},
                 {5, "Enlightment Sound Daemon"},
                 {6, "Alsa"},
                 {7, "ASIO"},
                 {8, ""},
                 {-1, ""}};
    for (const auto& c : cases) {
        SetUp();
        fakeSound.reportChosenOutput = false;
        fakeSound.reportedOutput = c.reported;
        fakeKeys = {'1', '1'};
        const std::string out = run(true);
        EXPECT_NE(out.find(dash + c.heading + " Driver list\n" + dash), std::string::npos) << c.reported;
    }
}

TEST_F(Dialog, ElevenDriversAreChosenInCharacterOrder)
{
    fakeSound.drivers.clear();
    for (int i = 1; i <= 11; ++i)
        fakeSound.drivers.push_back("device " + std::to_string(i));
    const struct {
        std::deque<int> keys;
        const char* call;
    } cases[] = {
        {{'1', '9'}, "SetDriver(8)"},
        {{'1', ':'}, "SetDriver(9)"},                    // the tenth
        {{'1', '0', '<', ';'}, "SetDriver(10)"},         // '0' below, '<' past the end
        {{'1', 0, 59}, "SetDriver(10)"},                 // F1: prefix ignored, then 59 = ';'
        {{'1', 224, 72, '2'}, "SetDriver(1)"},           // Up: both characters ignored
    };
    for (const auto& c : cases) {
        SetUp();
        fakeSound.drivers.clear();
        for (int i = 1; i <= 11; ++i)
            fakeSound.drivers.push_back("device " + std::to_string(i));
        fakeKeys = c.keys;
        const std::string out = run(true);
        EXPECT_EQ(fakeSound.calls.at(2), c.call);
        EXPECT_NE(out.find("10 - device 10\n11 - device 11\n" + dash), std::string::npos);
    }
}

TEST_F(Dialog, FailedInitPrintsTheLibrarysError)
{
    fakeSound.initSucceeds = false;
    fakeSound.errorCode = 3;
    fakeKeys = {'1', '1'};
    const std::string out = run(false);
    const std::string tail = dash + prompt + "Error!\nError initializing output device.\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(fakeSound.calls.back(), "GetError");
}

// Ends of the process, run in a child. The child sends its standard output
// to standard error, where the death test's pattern reads it.
using DialogDeathTest = Dialog;

#define EXPECT_DIALOG_EXIT(status, pattern) \
    EXPECT_EXIT((dup2(2, 1), initAudio()), ::testing::ExitedWithCode(status), pattern)

TEST_F(DialogDeathTest, EscAtTheOutputPromptEndsWithStatusZeroAndSilence)
{
    fakeKeys = {'7', esc, '1', '1'};
    EXPECT_DIALOG_EXIT(0, "4 - NoSound\n-{57}\nPress a corresponding number or ESC to quit\n$");
}

TEST_F(DialogDeathTest, EscAtTheDriverPromptEndsWithStatusZeroAndSilence)
{
    fakeKeys = {'2', '5', esc, '1'};
    EXPECT_DIALOG_EXIT(0, "1 - only driver\n-{57}\nPress a corresponding number or ESC to quit\n$");
}

TEST_F(DialogDeathTest, ZeroDriversListNothingAndOnlyEscLeaves)
{
    fakeSound.drivers.clear();
    fakeKeys = {'1', '1', '9', 0, 59, ':', esc};
    EXPECT_DIALOG_EXIT(0, "Direct Sound Driver list\n-{57}\n-{57}\nPress a corresponding number or ESC to quit\n$");
}

TEST_F(DialogDeathTest, UnreadableKeyboardEndsWithStatusOne)
{
    fakeKeys = {};
    EXPECT_DIALOG_EXIT(1, "quit\nCannot read keys from the terminal: no terminal in this test\n$");
}

TEST(ErrorString, EveryCode)
{
    const char* const expected[] = {
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
        "Not enough memory ",  // with its trailing blank
        "The version number of this file format is not supported",
        "An invalid parameter was passed to this function",
        "Tried to use an EAX command on a non EAX enabled channel or output.",
        "Failed to allocate a new channel",
        "Recording not supported on this device",
        "Required Mediaplayer codec is not installed",
    };
    for (int code = 0; code <= 18; ++code)
        EXPECT_STREQ(errorString(code), expected[code]) << code;
    for (int code : {19, 100, -1, -2147483647 - 1, 2147483647})
        EXPECT_STREQ(errorString(code), "Unknown error") << code;
}
