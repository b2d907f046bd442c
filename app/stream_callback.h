// The stream's fill callback: one block of the FM tone, and the window redrawn.
#pragma once

#include "audio/fsound.h"

// Called by the sound library on its streamer thread, never twice at once.
// Uses only the buffer and its length; the oscillators and the surface come
// from the globals, which exist before the stream is created.
fsound_bool streamCallback(FSOUND_STREAM* stream, void* buffer, int length, void* userData);
