// Audio device selection: the start-up dialog that picks the output type and
// driver with single keys and initialises the sound library.
#pragma once

// True when the sound library is initialised with the chosen output and
// driver; false after printing why (library too old, initialisation failed).
// ESC at either prompt ends the process with status 0.
bool initAudio();

// Message text for a sound library error code; constant, static, never null.
const char* errorString(int code);
