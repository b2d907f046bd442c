// KeyDecoder: terminal escape sequences to PC console key codes, the lone ESC and its timeout,
// sequences split across reads, and unknown sequences swallowed whole.
#include "platform/keyboard/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Millis = KeyDecoder::Millis;
constexpr Millis kTimeout = KeyDecoder::kEscapeTimeout;

// Bytes that reach the terminal together at one moment.
struct Burst {
    Millis at;
    std::string bytes;
};

// Drives the decoder the way the console does: before bytes are read at a moment, whatever timed
// out by then has been settled; at the end the terminal stays quiet long enough to settle the rest.
std::vector<int> decode(const std::vector<Burst>& bursts)
{
    KeyDecoder decoder;
    std::vector<int> out;
    Millis last = 0;
    auto take = [&] {
        for (int c = decoder.pop(); c != -1; c = decoder.pop())
            out.push_back(c);
    };
    for (const Burst& burst : bursts) {
        decoder.expire(burst.at);
        for (char c : burst.bytes) {
            decoder.push(static_cast<unsigned char>(c), burst.at);
            take();
        }
        last = burst.at;
    }
    decoder.expire(last + 10 * kTimeout);
    EXPECT_FALSE(decoder.pending());
    take();
    return out;
}

std::vector<int> decode(const std::string& bytes) { return decode({{0, bytes}}); }

constexpr int F = KeyDecoder::kPrefixFunction;
constexpr int E = KeyDecoder::kPrefixExtended;

struct KeyCase {
    const char* bytes;
    int prefix;
    int code;
};

// xterm, VT220, rxvt and Linux-console forms, plain and with modifier parameters.
const KeyCase kKnownKeys[] = {
    {"\033[A", E, 72}, {"\033[B", E, 80}, {"\033[C", E, 77}, {"\033[D", E, 75},
    {"\033OA", E, 72}, {"\033OB", E, 80}, {"\033OC", E, 77}, {"\033OD", E, 75},
    {"\033[H", E, 71}, {"\033[F", E, 79}, {"\033OH", E, 71}, {"\033OF", E, 79},
    {"\033[1~", E, 71}, {"\033[7~", E, 71}, {"\033[4~", E, 79}, {"\033[8~", E, 79},
    {"\033[5~", E, 73}, {"\033[6~", E, 81}, {"\033[2~", E, 82}, {"\033[3~", E, 83},
    {"\033OP", F, 59}, {"\033OQ", F, 60}, {"\033OR", F, 61}, {"\033OS", F, 62},
    {"\033[[A", F, 59}, {"\033[[B", F, 60}, {"\033[[C", F, 61}, {"\033[[D", F, 62},
    {"\033[[E", F, 63},
    {"\033[11~", F, 59}, {"\033[12~", F, 60}, {"\033[13~", F, 61}, {"\033[14~", F, 62},
    {"\033[15~", F, 63}, {"\033[17~", F, 64}, {"\033[18~", F, 65}, {"\033[19~", F, 66},
    {"\033[20~", F, 67}, {"\033[21~", F, 68}, {"\033[23~", E, 133}, {"\033[24~", E, 134},
    // Modifiers (Shift 2, Alt 3, Ctrl 5...) name the same key.
    {"\033[1;5A", E, 72}, {"\033[1;2D", E, 75}, {"\033[1;3H", E, 71}, {"\033[1;5F", E, 79},
    {"\033[5;5~", E, 73}, {"\033[3;2~", E, 83}, {"\033[1;2P", F, 59}, {"\033[1;5S", F, 62},
    {"\033[15;2~", F, 63}, {"\033[24;5~", E, 134}, {"\033O5P", F, 59}, {"\033O2A", E, 72},
    // Meta as a leading ESC (rxvt's Alt+Up).
    {"\033\033[A", E, 72}, {"\033\033OP", F, 59},
};

TEST(KeyDecoder, KnownSequencesGivePrefixThenCode)
{
    for (const KeyCase& key : kKnownKeys) {
        SCOPED_TRACE(testing::PrintToString(std::string(key.bytes)));
        // The byte after the sequence shows it was consumed exactly.
        EXPECT_EQ(decode(std::string(key.bytes) + "q"), (std::vector<int>{key.prefix, key.code, 'q'}));
    }
}

TEST(KeyDecoder, PlainBytesComeThroughAsTheyAre)
{
    std::string all;
    std::vector<int> expected;
    for (int b = 0; b < 256; ++b) {
        if (b == 27)
            continue;
        all.push_back(static_cast<char>(b));
        expected.push_back(b);
    }
    EXPECT_EQ(decode(all), expected);  // controls, DEL, 0 and 224 themselves, UTF-8 bytes
    EXPECT_EQ(decode("+9\xc3\xa9"), (std::vector<int>{'+', '9', 0xc3, 0xa9}));
}

TEST(KeyDecoder, UnknownSequencesAreConsumedWholeAndNeverTakenAsEsc)
{
    const char* unknown[] = {
        "\033[Z",          // Shift+Tab
        "\033[E",          // keypad 5
        "\033[G",          // keypad 5, Linux console
        "\033[25~",        // Shift+F1, Linux console
        "\033[16~",
        "\033[~",
        "\033[99~",
        "\033[99999999999999999999~",  // saturates, no overflow
        "\033[?1;2c",      // a device attributes report
        "\033[<0;12;5M",   // an SGR mouse report
        "\033[1:2A",       // sub-parameters
        "\033[ A",         // an intermediate byte
        "\033[27;5;9~",    // modifyOtherKeys Ctrl+Tab
        "\033[I",          // focus in
        "\033Ox",          // keypad in application mode
        "\033OM",
        "\033[[Z",
        "\033a",           // Alt+a
        "\033\r",
        "\033\xc3",        // Alt with a non-ASCII byte
    };
    for (const char* seq : unknown) {
        SCOPED_TRACE(testing::PrintToString(std::string(seq)));
        EXPECT_EQ(decode(std::string(seq) + "q"), std::vector<int>{'q'});
    }
}

struct TimedCase {
    const char* name;
    std::vector<Burst> bursts;
    std::vector<int> expected;
};

TEST(KeyDecoder, TimingDecidesBetweenEscKeyAndSequence)
{
    const Millis late = kTimeout + 1;
    const TimedCase cases[] = {
        {"lone ESC", {{0, "\033"}}, {27}},
        {"ESC, then a key too late to belong to it", {{0, "\033"}, {late, "x"}}, {27, 'x'}},
        {"ESC, then [A too late", {{0, "\033"}, {late, "[A"}}, {27, '[', 'A'}},
        {"ESC just before its timeout still leads",
         {{0, "\033"}, {kTimeout - 1, "[A"}}, {E, 72}},
        {"split read, byte by byte", {{0, "\033"}, {20, "["}, {40, "1"}, {60, ";"}, {80, "5"},
                                       {100, "A"}}, {E, 72}},
        {"split read of the console's F3", {{0, "\033["}, {30, "["}, {60, "C"}}, {F, 61}},
        {"unfinished sequence is dropped", {{0, "\033["}}, {}},
        {"unfinished sequence, then a key", {{0, "\033[1;"}, {late, "A"}}, {'A'}},
        {"unfinished SS3 is dropped, not ESC", {{0, "\033O"}}, {}},
        {"two ESC presses in quick succession", {{0, "\033"}, {20, "\033"}}, {27, 27}},
        {"held ESC repeating fast", {{0, "\033"}, {30, "\033"}, {60, "\033"}, {90, "\033"}},
         {27, 27, 27, 27}},
        {"ESC key, then Alt+x", {{0, "\033\033x"}}, {27}},
        {"ESC between keys", {{0, "a"}, {10, "\033"}, {200, "b"}}, {'a', 27, 'b'}},
        {"a control byte breaks a sequence off", {{0, "\033[1\n"}}, {'\n'}},
        {"an ESC breaks a sequence off and starts the next", {{0, "\033[1\033[B"}}, {E, 80}},
        {"keys typed together", {{0, "\033[A\033OPz\033[6~"}}, {E, 72, F, 59, 'z', E, 81}},
    };
    for (const TimedCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.bursts), c.expected);
    }
}

TEST(KeyDecoder, PendingEscapeHasADeadlineAndIsNoKeyBeforeIt)
{
    KeyDecoder decoder;
    EXPECT_FALSE(decoder.pending());
    EXPECT_EQ(decoder.pop(), -1);

    decoder.push(27, 1000);
    EXPECT_TRUE(decoder.pending());
    EXPECT_FALSE(decoder.ready());
    EXPECT_EQ(decoder.deadline(), 1000 + kTimeout);

    decoder.expire(1000 + kTimeout - 1);
    EXPECT_FALSE(decoder.ready());
    decoder.expire(1000 + kTimeout);
    EXPECT_FALSE(decoder.pending());
    ASSERT_TRUE(decoder.ready());
    EXPECT_EQ(decoder.pop(), 27);
    EXPECT_FALSE(decoder.ready());
}

TEST(KeyDecoder, EachByteOfASequenceRestartsTheWait)
{
    KeyDecoder decoder;
    decoder.push(27, 0);
    decoder.push('[', 40);
    EXPECT_EQ(decoder.deadline(), 40 + kTimeout);
    decoder.expire(60);
    EXPECT_TRUE(decoder.pending());
}

TEST(KeyDecoder, ByteReadLateStillFollowsWhenNoExpireCameBetween)
{
    // The console reads everything waiting before it settles a timeout, so bytes that were
    // already there belong to the ESC before them however late they are read.
    KeyDecoder decoder;
    decoder.push(27, 0);
    decoder.push('[', 500);
    decoder.push('A', 500);
    EXPECT_EQ(decoder.pop(), E);
    EXPECT_EQ(decoder.pop(), 72);
}

TEST(KeyDecoder, PrefixAndCodeAreReadOneAtATime)
{
    KeyDecoder decoder;
    for (char c : std::string("\033[24~"))
        decoder.push(static_cast<unsigned char>(c), 0);
    ASSERT_TRUE(decoder.ready());
    EXPECT_EQ(decoder.pop(), 224);
    ASSERT_TRUE(decoder.ready());  // the code waits after the prefix has been read
    EXPECT_EQ(decoder.pop(), 134);
    EXPECT_FALSE(decoder.ready());
}

}  // namespace
