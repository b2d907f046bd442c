#include "platform/keyboard/key_decoder.h"

namespace {

constexpr unsigned char kEsc = 27;

// PC console scan codes of the keys without a character.
constexpr int kF1 = 59;  // F1 to F10 are 59 to 68
constexpr int kF11 = 133;
constexpr int kF12 = 134;
constexpr int kHome = 71;
constexpr int kUp = 72;
constexpr int kPgUp = 73;
constexpr int kLeft = 75;
constexpr int kRight = 77;
constexpr int kEnd = 79;
constexpr int kDown = 80;
constexpr int kPgDn = 81;
constexpr int kInsert = 82;
constexpr int kDelete = 83;

constexpr int kParamLimit = 10000;  // larger numbers name no key; saturating keeps them so

bool isParameterByte(unsigned char b) { return b >= 0x30 && b <= 0x3F; }
bool isIntermediateByte(unsigned char b) { return b >= 0x20 && b <= 0x2F; }
bool isFinalByte(unsigned char b) { return b >= 0x40 && b <= 0x7E; }

}  // namespace

void KeyDecoder::push(unsigned char byte, Millis now)
{
    switch (state_) {
    case State::Ground:
        ground(byte);
        break;

    case State::Escape:
    case State::DoubleEscape:
        if (byte == '[' || byte == 'O') {
            state_ = byte == '[' ? State::Csi : State::Ss3;
            csiFresh_ = true;
            foreign_ = false;
            pastFirst_ = false;
            firstParam_ = 0;
        } else if (byte == kEsc) {
            // A third ESC settles the first as a key of its own.
            if (state_ == State::DoubleEscape)
                emit(kEsc);
            state_ = State::DoubleEscape;
        } else {
            // ESC x is Alt+x: nothing of ours. An ESC before it was a key.
            if (state_ == State::DoubleEscape)
                emit(kEsc);
            state_ = State::Ground;
        }
        break;

    case State::Csi:
    case State::Ss3:
        if (state_ == State::Csi && csiFresh_ && byte == '[') {
            state_ = State::ConsoleF;
        } else if (byte >= '0' && byte <= '9') {
            if (!pastFirst_ && firstParam_ < kParamLimit)
                firstParam_ = firstParam_ * 10 + (byte - '0');
        } else if (byte == ';') {
            pastFirst_ = true;  // later parameters are modifiers: the key stays the same
        } else if (isParameterByte(byte) || isIntermediateByte(byte)) {
            foreign_ = true;  // ':' sub-parameters, '<' '=' '>' '?' markers, intermediates
        } else if (isFinalByte(byte)) {
            if (state_ == State::Csi)
                finishCsi(byte);
            else
                finishSs3(byte);
            state_ = State::Ground;
        } else {
            // A control or non-ASCII byte breaks the sequence off: what came before it is dropped
            // and the byte is taken on its own (an ESC starts the next sequence).
            state_ = State::Ground;
            ground(byte);
        }
        csiFresh_ = false;
        break;

    case State::ConsoleF:
        state_ = State::Ground;
        if (byte >= 'A' && byte <= 'E')
            emitKey(kPrefixFunction, kF1 + (byte - 'A'));
        else if (byte < 0x20 || byte > 0x7E)
            ground(byte);
        break;
    }
    if (state_ != State::Ground)
        deadline_ = now + kEscapeTimeout;
}

void KeyDecoder::expire(Millis now)
{
    if (state_ == State::Ground || now < deadline_)
        return;
    if (state_ == State::Escape || state_ == State::DoubleEscape)
        emit(kEsc);
    if (state_ == State::DoubleEscape)
        emit(kEsc);
    state_ = State::Ground;
}

int KeyDecoder::pop()
{
    if (count_ == 0)
        return -1;
    int character = queue_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return character;
}

void KeyDecoder::ground(unsigned char byte)
{
    if (byte == kEsc)
        state_ = State::Escape;
    else
        emit(byte);
}

bool KeyDecoder::finishLetterKey(unsigned char final)
{
    switch (final) {
    case 'A': emitKey(kPrefixExtended, kUp); return true;
    case 'B': emitKey(kPrefixExtended, kDown); return true;
    case 'C': emitKey(kPrefixExtended, kRight); return true;
    case 'D': emitKey(kPrefixExtended, kLeft); return true;
    case 'H': emitKey(kPrefixExtended, kHome); return true;
    case 'F': emitKey(kPrefixExtended, kEnd); return true;
    case 'P': case 'Q': case 'R': case 'S':  // F1 to F4, also modified: ESC [ 1 ; 5 P
        emitKey(kPrefixFunction, kF1 + (final - 'P'));
        return true;
    default:
        return false;
    }
}

void KeyDecoder::finishCsi(unsigned char final)
{
    if (foreign_ || finishLetterKey(final) || final != '~')
        return;
    const int n = firstParam_;
    if (n == 1 || n == 7)
        emitKey(kPrefixExtended, kHome);
    else if (n == 2)
        emitKey(kPrefixExtended, kInsert);
    else if (n == 3)
        emitKey(kPrefixExtended, kDelete);
    else if (n == 4 || n == 8)
        emitKey(kPrefixExtended, kEnd);
    else if (n == 5)
        emitKey(kPrefixExtended, kPgUp);
    else if (n == 6)
        emitKey(kPrefixExtended, kPgDn);
    else if (n >= 11 && n <= 15)  // F1 to F5
        emitKey(kPrefixFunction, kF1 + (n - 11));
    else if (n >= 17 && n <= 21)  // F6 to F10; 16 is unused
        emitKey(kPrefixFunction, kF1 + 5 + (n - 17));
    else if (n == 23)
        emitKey(kPrefixExtended, kF11);
    else if (n == 24)
        emitKey(kPrefixExtended, kF12);
}

void KeyDecoder::finishSs3(unsigned char final)
{
    // Other SS3 keys (the keypad's application mode and the like) are not ours.
    if (!foreign_)
        finishLetterKey(final);
}

void KeyDecoder::emitKey(int prefix, int code)
{
    emit(prefix);
    emit(code);
}

void KeyDecoder::emit(int character)
{
    if (count_ == kCapacity)
        return;
    queue_[(head_ + count_) % kCapacity] = static_cast<unsigned char>(character);
    ++count_;
}
