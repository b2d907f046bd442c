// KeyDecoder: turns what a terminal sends for keystrokes into the characters a PC console's key
// read gives. Plain bytes come through as they are; a key without a character of its own arrives
// as an escape sequence and leaves as two characters, a prefix (0 for F1 to F10, 224 for the
// others) and the PC scan code. Pure: bytes and their arrival times in, characters out.
//
// Understood: the xterm and Linux-console forms of the arrows, Home, End, PgUp, PgDn, Insert,
// Delete and F1 to F12 (CSI "ESC [", SS3 "ESC O" and the console's "ESC [ [" for F1 to F5), with
// or without modifier parameters (ESC [ 1 ; 5 A is Up) or a leading meta ESC. Any other sequence
// is consumed whole and yields nothing, so it is never mistaken for the ESC key.
#pragma once

#include <cstdint>

class KeyDecoder {
public:
    using Millis = std::int64_t;  // a monotonic clock in milliseconds, any origin

    // An ESC with nothing after it for this long is the ESC key; a sequence that stops for this
    // long is dropped. Terminals send a key's sequence in one write, so a few tens of
    // milliseconds separate it from a person pressing ESC, then another key.
    static constexpr Millis kEscapeTimeout = 50;

    static constexpr int kPrefixFunction = 0;    // before F1 to F10
    static constexpr int kPrefixExtended = 224;  // before the other keys without a character

    // Takes one byte read at `now`. It never times a pending ESC out by itself: a byte that was
    // already waiting when the terminal was read still belongs to the sequence before it, however
    // late it is read. Only expire() decides that the wait is over.
    void push(unsigned char byte, Millis now);

    // Settles what is pending if its deadline has come by `now`: a lone ESC becomes 27 (two ESCs
    // become 27 27), an unfinished sequence is dropped.
    void expire(Millis now);

    // A decided character is unread.
    bool ready() const { return count_ > 0; }

    // Takes the next decided character, 0 to 255; -1 when there is none.
    int pop();

    // Bytes are held that no character has been decided for yet; deadline() is when expire()
    // will settle them.
    bool pending() const { return state_ != State::Ground; }
    Millis deadline() const { return deadline_; }

    // Decided characters kept unread at most. A caller that feeds the decoder only while nothing is
    // ready (as the console does) holds at most four; beyond the capacity characters are lost.
    static constexpr int kCapacity = 64;

private:
    enum class State : unsigned char {
        Ground,        // between keys
        Escape,        // ESC
        DoubleEscape,  // ESC ESC: a second ESC key, or a meta ESC before a sequence
        Csi,           // ESC [ and parameters
        ConsoleF,      // ESC [ [: the Linux console's F1 to F5
        Ss3,           // ESC O and parameters
    };

    void ground(unsigned char byte);
    // Emit the key of a sequence ending in a cursor or F1-F4 letter, in its
    // CSI and SS3 forms alike; false for any other final byte.
    bool finishLetterKey(unsigned char final);
    void finishCsi(unsigned char final);
    void finishSs3(unsigned char final);
    void emitKey(int prefix, int code);
    void emit(int character);

    State state_ = State::Ground;
    Millis deadline_ = 0;
    bool csiFresh_ = false;  // nothing has followed ESC [ yet
    bool foreign_ = false;   // a private marker, sub-parameter or intermediate byte: no key of ours
    bool pastFirst_ = false; // a ';' has ended the first parameter
    int firstParam_ = 0;     // value of the first parameter, saturated

    unsigned char queue_[kCapacity] = {};
    int head_ = 0;
    int count_ = 0;
};
