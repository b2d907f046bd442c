// libFuzzer target for KeyDecoder, built and run by scripts/fuzz-keys.
//
// The input is a script of terminal bytes and pauses: 0xFF followed by t lets t milliseconds pass
// (0xFF 0xFF is the byte 0xFF itself); every other byte arrives at the current time. Characters
// are taken after every step, as the console does. Besides crashes and undefined behaviour it
// checks what the console relies on.
#include "platform/keyboard/key_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KeyDecoder decoder;
    KeyDecoder::Millis now = 0;
    std::vector<int> pushed;
    std::vector<int> out;
    std::size_t escapes = 0;

    auto take = [&] {
        int taken = 0;
        for (int c = decoder.pop(); c != -1; c = decoder.pop()) {
            check(c >= 0 && c <= 255);
            out.push_back(c);
            ++taken;
        }
        check(taken <= 2);  // one step never decides more than one key
        check(!decoder.ready());
    };

    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t byte = data[i];
        if (byte == 0xFF && i + 1 < size && data[i + 1] != 0xFF) {
            now += data[++i];
            decoder.expire(now);
            take();
            check(!decoder.pending() || decoder.deadline() > now);
            continue;
        }
        if (byte == 0xFF)
            ++i;
        decoder.push(byte, now);
        pushed.push_back(byte);
        escapes += byte == 27;
        take();
        check(!decoder.pending() || decoder.deadline() == now + KeyDecoder::kEscapeTimeout);
    }

    decoder.expire(now + KeyDecoder::kEscapeTimeout);
    take();
    check(!decoder.pending());

    std::size_t escKeys = 0;
    for (int c : out)
        escKeys += c == 27;
    check(escKeys <= escapes);  // an ESC key is only ever an ESC typed
    if (escapes == 0)
        check(out == pushed);  // without ESC every byte is a key of its own
    return 0;
}
