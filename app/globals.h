// The program's globals: set once at start-up by the main thread, before the
// stream exists, and never released. After that the stream callback's thread
// owns the surface and the oscillators; the key loop touches only the two
// atomic frequency fields.
#pragma once

#include "synth/oscillator.h"

struct SDL_Surface;

extern SDL_Surface* screen;  // the 640 x 480 window
extern Oscillator* osc;      // the carrier, heard
extern Oscillator* lfo;      // the low-frequency oscillator driving osc.frequency
extern int mixRate;          // Hz
extern int streamLength;     // bytes
