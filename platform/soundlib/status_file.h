// Diagnostics for measuring a running program from outside: when the
// environment names a file in FMSCOPE_SOUNDLIB_STATUS, the layer rewrites it
// twice a second with its status counters as key=value lines.
#pragma once

namespace soundlib {

// Start the reporter once, if asked for; later calls do nothing. Control
// thread. The reporter is a plain background thread, far from the audio path.
void startStatusFile();

}  // namespace soundlib
