#include "app/globals.h"

SDL_Surface* screen = nullptr;
Oscillator* osc = nullptr;
Oscillator* lfo = nullptr;
int mixRate = 44100;
int streamLength = 65536;
