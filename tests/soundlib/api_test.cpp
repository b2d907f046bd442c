// The library's calls, their results and error codes.
#include "helpers.h"

#include "audio/fsound.h"
#include "platform/soundlib/backend.h"
#include "platform/soundlib/soundlib_extras.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr unsigned kMode = 0x01000150;

fsound_bool silence(FSOUND_STREAM*, void* buffer, int length, void*)
{
    std::memset(buffer, 0, static_cast<size_t>(length));
    return 1;
}

class SoundlibApi : public testing::Test {
protected:
    void SetUp() override { soundlib_Shutdown(); }
    void TearDown() override { soundlib_Shutdown(); }

    void initNull()
    {
        ASSERT_TRUE(FSOUND_SetOutput(0));
        ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
    }
};

TEST_F(SoundlibApi, VersionIs374) { EXPECT_EQ(FSOUND_GetVersion(), 3.74f); }

TEST_F(SoundlibApi, AcceptsTheMenuOutputsAndRefusesOthersKeepingTheOneInForce)
{
    for (int output : {2, 1, 7, 0, 6}) {
        EXPECT_TRUE(FSOUND_SetOutput(output)) << output;
        EXPECT_EQ(FSOUND_GetOutput(), output);
    }
    ASSERT_TRUE(FSOUND_SetOutput(7));
    for (int output : {-1, 3, 4, 5, 8, 1000}) {
        EXPECT_FALSE(FSOUND_SetOutput(output)) << output;
        EXPECT_EQ(FSOUND_GetError(), 14);
        EXPECT_EQ(FSOUND_GetOutput(), 7);
    }
}

TEST_F(SoundlibApi, NoErrorBeforeAnyFailure) { EXPECT_EQ(FSOUND_GetError(), 0); }

TEST_F(SoundlibApi, StreamCallsBeforeInitFailWithError2)
{
    EXPECT_EQ(FSOUND_Stream_Create(&silence, 65536, kMode, 44100, nullptr), nullptr);
    EXPECT_EQ(FSOUND_GetError(), 2);
    soundlib_Shutdown();
    EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), 2);
}

TEST_F(SoundlibApi, OutputDriverAndInitCallsAfterInitFailWithError1)
{
    initNull();
    EXPECT_FALSE(FSOUND_SetOutput(2));
    EXPECT_EQ(FSOUND_GetError(), 1);
    EXPECT_EQ(FSOUND_GetOutput(), 0);
    soundlib_Shutdown();
    initNull();
    EXPECT_FALSE(FSOUND_SetDriver(0));
    EXPECT_EQ(FSOUND_GetError(), 1);
    soundlib_Shutdown();
    initNull();
    EXPECT_FALSE(FSOUND_Init(44100, 32, 0));
    EXPECT_EQ(FSOUND_GetError(), 1);
}

TEST_F(SoundlibApi, DriverIndexOutOfRangeGivesNullNameAndError14)
{
    ASSERT_TRUE(FSOUND_SetOutput(0));
    ASSERT_EQ(FSOUND_GetNumDrivers(), 1);
    EXPECT_STREQ(FSOUND_GetDriverName(0), "No sound (null output)");
    for (int index : {1, -1, 1 << 30}) {
        soundlib_Shutdown();
        ASSERT_TRUE(FSOUND_SetOutput(0));
        EXPECT_EQ(FSOUND_GetDriverName(index), nullptr) << index;
        EXPECT_EQ(FSOUND_GetError(), 14);
        soundlib_Shutdown();
        ASSERT_TRUE(FSOUND_SetOutput(0));
        EXPECT_FALSE(FSOUND_SetDriver(index)) << index;
        EXPECT_EQ(FSOUND_GetError(), 14);
    }
}

TEST_F(SoundlibApi, UnsupportedStreamParametersGiveNullAndError14)
{
    struct Case {
        const char* what;
        FSOUND_STREAMCALLBACK callback;
        int length;
        unsigned mode;
        int rate;
    };
    const Case cases[] = {
        {"no callback", nullptr, 65536, kMode, 44100},
        {"zero length", &silence, 0, kMode, 44100},
        {"negative length", &silence, -4, kMode, 44100},
        {"partial frame", &silence, 65538, kMode, 44100},
        {"8-bit", &silence, 65536, 0x01000148, 44100},
        {"mono", &silence, 65536, 0x01000130, 44100},
        {"unsigned", &silence, 65536, 0x01000250, 44100},
        {"unknown bit", &silence, 65536, kMode | 0x80000, 44100},
        {"other rate", &silence, 65536, kMode, 48000},
    };
    initNull();
    for (const Case& c : cases) {
        EXPECT_EQ(FSOUND_Stream_Create(c.callback, c.length, c.mode, c.rate, nullptr), nullptr) << c.what;
        EXPECT_EQ(FSOUND_GetError(), 14) << c.what;
    }
}

TEST_F(SoundlibApi, PlayRefusesForeignStreamsAndBadChannelsAndASecondStream)
{
    initNull();
    FSOUND_STREAM* stream = FSOUND_Stream_Create(&silence, 65536, kMode, 44100, nullptr);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(0, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), 14);
    EXPECT_EQ(FSOUND_Stream_Play(0, reinterpret_cast<FSOUND_STREAM*>(&stream)), -1);
    EXPECT_EQ(FSOUND_GetError(), 14);
    EXPECT_EQ(FSOUND_Stream_Play(-2, stream), -1);
    EXPECT_EQ(FSOUND_GetError(), 14);
    EXPECT_EQ(FSOUND_Stream_Play(32, stream), -1);
    EXPECT_EQ(FSOUND_GetError(), 14);

    EXPECT_EQ(FSOUND_Stream_Play(0, stream), 0);
    EXPECT_EQ(FSOUND_Stream_Play(0, stream), 0) << "playing again is no failure";
    FSOUND_STREAM* second = FSOUND_Stream_Create(&silence, 65536, kMode, 44100, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(0, second), -1);
    EXPECT_EQ(FSOUND_GetError(), 16);
}

TEST_F(SoundlibApi, RateTheOutputRefusesGivesError6)
{
    ASSERT_TRUE(FSOUND_SetOutput(0));
    EXPECT_FALSE(FSOUND_Init(1000, 32, 0));
    EXPECT_EQ(FSOUND_GetError(), 6);
    // The JACK test server runs at 44,100 Hz and takes no other rate.
    soundlib_Shutdown();
    ASSERT_TRUE(FSOUND_SetOutput(7));
    ASSERT_GT(FSOUND_GetNumDrivers(), 0) << "needs the test services' JACK server";
    EXPECT_FALSE(FSOUND_Init(48000, 32, 0));
    EXPECT_EQ(FSOUND_GetError(), 6);
}

TEST_F(SoundlibApi, UnreachableBackendListsNothingAndInitGivesError3)
{
    struct Case {
        int output;
        const char* variable;
        const char* value;
    };
    const Case cases[] = {
        {7, "JACK_DEFAULT_SERVER", "fmscope-no-such-server"},
        {2, "PULSE_SERVER", "unix:/nonexistent/fmscope/native"},
    };
    for (const Case& c : cases) {
        soundlib_Shutdown();
        ScopedEnv env(c.variable, c.value);
        ASSERT_TRUE(FSOUND_SetOutput(c.output));
        EXPECT_EQ(FSOUND_GetNumDrivers(), 0) << c.output;
        EXPECT_FALSE(FSOUND_Init(44100, 32, 0)) << c.output;
        EXPECT_EQ(FSOUND_GetError(), 3) << c.output;
    }
}

TEST_F(SoundlibApi, OpenFailureTextsMapToTheirCodes)
{
    // A busy device can't be made on CI; the mapping of the backend's text is
    // what decides the code.
    EXPECT_EQ(soundlib::openErrorCode("RtApiAlsa::probeDeviceOpen: pcm device (hw:0,0) won't open for "
                                      "output: Device or resource busy."),
              4);
    EXPECT_EQ(soundlib::openErrorCode("RtApiJack::probeDeviceOpen: the requested sample rate (48000) "
                                      "is different than the JACK server rate (44100)."),
              6);
    EXPECT_EQ(soundlib::openErrorCode("RtApiPulse::probeDeviceOpen: error opening output device."), 3);
}

TEST_F(SoundlibApi, ListsEachBackendsDevicesDefaultFirstWithStableNames)
{
    struct Case {
        int output;
        const char* first;
    };
    // The test services: PulseAudio's default sink, ALSA's default device
    // (PulseAudio's plugin), JACK's dummy system ports.
    const Case cases[] = {{2, "fmscope_test"}, {1, "default"}, {6, "default"}, {7, "system"}};
    for (const Case& c : cases) {
        soundlib_Shutdown();
        ASSERT_TRUE(FSOUND_SetOutput(c.output));
        ASSERT_GT(FSOUND_GetNumDrivers(), 0) << c.output;
        const char* name = FSOUND_GetDriverName(0);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, c.first) << c.output;
        EXPECT_EQ(FSOUND_GetDriverName(0), name) << "name stays valid and in place";
        ASSERT_TRUE(FSOUND_SetOutput(0));
        ASSERT_TRUE(FSOUND_SetOutput(c.output));
        EXPECT_EQ(FSOUND_GetDriverName(0), name);
    }
}

TEST_F(SoundlibApi, BufferingStaysWithin50msOnEveryBackend)
{
    for (int output : {2, 1, 7, 0}) {
        soundlib_Shutdown();
        ASSERT_TRUE(FSOUND_SetOutput(output));
        ASSERT_TRUE(FSOUND_Init(44100, 32, 0)) << output << " error " << FSOUND_GetError();
        ASSERT_NE(FSOUND_Stream_Create(&silence, 65536, kMode, 44100, nullptr), nullptr);
        SoundlibStatus status;
        ASSERT_TRUE(soundlib_GetStatus(&status));
        EXPECT_LE(status.blockFrames * 20, 44100) << "at least 20 callbacks a second";
        EXPECT_GT(status.bufferingMs, 0.0);
        EXPECT_LE(status.bufferingMs, 50.0) << output;
    }
}

} // namespace
