/* Extras of fmscope's sound layer beyond the program's calls: a status query
 * for tests and diagnostics, and a shutdown that returns the layer to its
 * state before FSOUND_Init. The program itself needs neither.
 */
#ifndef FMSCOPE_SOUNDLIB_EXTRAS_H
#define FMSCOPE_SOUNDLIB_EXTRAS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SoundlibStatus {
    int outputType;         /* output type in force */
    int initialised;        /* nonzero after a successful FSOUND_Init */
    int playing;            /* nonzero once a stream plays */
    int sampleRate;         /* Hz of the open output, 0 before init */
    int blockFrames;        /* frames asked of the stream callback per call */
    int ringLeadFrames;     /* most frames the streamer keeps ahead of the device */
    int backendFrames;      /* buffer granted by the backend, frames */
    double bufferingMs;     /* ring lead plus backend buffer, in ms of audio */
    unsigned long long callbacks;        /* calls of the stream callback */
    unsigned long long framesRendered;   /* frames the stream callback produced */
    unsigned long long framesDelivered;  /* frames handed to the device (or discarded
                                            by the null output or the fallback clock) */
    unsigned long long underruns;        /* device pulls that found the ring short */
    unsigned long long underrunFrames;   /* silent frames played for them */
    unsigned long long deviceUnderflows; /* underflows the backend itself reported */
    int backendFailed;      /* the backend reported an error while playing */
    int clockFallback;      /* the streamer paces itself: the device stopped pulling */
} SoundlibStatus;

/* Fill *status; returns 0 when status is null, 1 otherwise. Any thread; the
 * counters are read one by one, so they may be a few frames apart. */
int soundlib_GetStatus(SoundlibStatus* status);

/* Stop the stream and the streamer, close the device, forget the stream, the
 * output choice and the driver lists, and clear the error code: the state of
 * a freshly loaded library. Control thread only, never from the stream
 * callback. Names returned by FSOUND_GetDriverName become invalid. */
void soundlib_Shutdown(void);

#ifdef __cplusplus
}
#endif

#endif
