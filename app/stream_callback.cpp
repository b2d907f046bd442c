#include "app/stream_callback.h"

#include "app/globals.h"
#include "synth/tone.h"

fsound_bool streamCallback(FSOUND_STREAM* stream, void* buffer, int length, void* userData)
{
    (void)stream;
    (void)userData;
    fillBlock(buffer, length, *osc, *lfo);
    return 1;
}
