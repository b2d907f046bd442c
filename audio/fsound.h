/* The sound library as fmscope sees it: the calls it makes and the stream
 * callback it supplies. Implemented by platform/soundlib on Linux audio.
 *
 * Threads: every call here is for one control thread (the program's main
 * thread). The stream callback is called on the library's own streamer
 * thread, never on the caller's thread and never on a device's real-time
 * thread; two calls of it never overlap.
 */
#ifndef FMSCOPE_AUDIO_FSOUND_H
#define FMSCOPE_AUDIO_FSOUND_H

#ifdef __cplusplus
extern "C" {
#endif

/* A user stream; opaque to the program. */
typedef struct FSOUND_STREAM FSOUND_STREAM;

/* One-byte truth value: nonzero is true. */
typedef signed char fsound_bool;

/* Fill `buffer` with `length` bytes of stream data (always a whole number of
 * 4-byte stereo frames). `userData` is the value given at creation. Return
 * true; the stream keeps running either way. */
typedef fsound_bool (*FSOUND_STREAMCALLBACK)(FSOUND_STREAM* stream, void* buffer, int length,
                                             void* userData);

/* Output types (the values the program's menu passes): 0 null output,
 * 1 and 6 ALSA, 2 PulseAudio (PipeWire through pipewire-pulse), 7 JACK.
 * Stream mode 0x01000150: 16-bit signed interleaved stereo. */

float FSOUND_GetVersion(void);
fsound_bool FSOUND_SetOutput(int outputType);
int FSOUND_GetOutput(void);
int FSOUND_GetNumDrivers(void);
const char* FSOUND_GetDriverName(int driver);
fsound_bool FSOUND_SetDriver(int driver);
fsound_bool FSOUND_Init(int mixRate, int maxChannels, unsigned int flags);
FSOUND_STREAM* FSOUND_Stream_Create(FSOUND_STREAMCALLBACK callback, int length, unsigned int mode,
                                    int sampleRate, void* userData);
/* Returns the channel playing the stream, or -1 on failure. */
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
/* Code of the last failure, 0 when none. */
int FSOUND_GetError(void);

#ifdef __cplusplus
}
#endif

#endif
