/* Kestrav: delay and frequency offset between two recordings of the same signal.
 * The C interface of libkestrav.so. */
#ifndef KESTRAV_H
#define KESTRAV_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KESTRAV_BUILDING_LIBRARY)
#define KESTRAV_API __attribute__((visibility("default")))
#else
#define KESTRAV_API
#endif

/* One result: 24 bytes, three doubles. */
typedef struct SearchResult {
  double delay;           /* seconds; positive when the signal occurs later in the second recording */
  double frequencyOffset; /* hertz; positive when the second recording is higher in frequency */
  double level;           /* decibels; peak power of the lag's spectrum over its mean power */
} SearchResult;

/* The caller's result array must hold this many records. */
enum { MaxResults = 10 };

/* Searches the two recordings for the delay and frequency offset of the second against the first.
 * Each path is read as the command line reads it without --format: bare samples of the type its
 * name says (.cf32 .fc32 .cfile float32, .cs8 .ci8 .sc8 int8, .cu8 uint8, anything else int16),
 * a WAV file (.wav .rf64 .w64) or a single-channel SigMF recording (NAME, NAME.sigmf-meta,
 * NAME.sigmf-data, NAME.sigmf archive). A sample rate the recording carries must equal
 * sampleRate. Writes up to MaxResults records, strongest first, and their number to
 * *resultCount. Returns false, leaving results and *resultCount untouched, when an argument is
 * unusable or the recordings cannot be loaded. */
KESTRAV_API bool Kestrav(SearchResult* results, int* resultCount, const char* firstPath,
                         const char* secondPath, int sampleCount, double sampleRate,
                         double centreDelay, double delayWindow, double frequencySpan,
                         double minAbsDelay, double minAbsFrequency, double peakThreshold,
                         bool refine);

/* The sample types of caller-supplied buffers: complex pairs, in-phase first. */
enum KestravSampleType {
  KestravInt16 = 0,  /* int16 pairs, as in the recording files */
  KestravFloat32 = 1 /* float32 pairs */
};

/* What KestravSearchSamples returns. */
enum KestravStatus {
  KestravOk = 0,
  KestravResourceError = 1, /* memory or another resource of the machine ran out */
  KestravInputError = 2     /* an argument or the samples cannot be used */
};

/* The same search over recordings held in memory: firstCount and secondCount samples of the
 * given type (the whole recordings, placed by the window exactly as files are), the same nine
 * parameters and the same result records. Returns KestravOk with the results written, or a
 * status with a one-line reason in message (at most messageSize bytes, always terminated; message
 * may be NULL), leaving results and *resultCount untouched. */
KESTRAV_API int KestravSearchSamples(SearchResult* results, int* resultCount,
                                     const void* firstSamples, long long firstCount,
                                     const void* secondSamples, long long secondCount,
                                     int sampleType, int sampleCount, double sampleRate,
                                     double centreDelay, double delayWindow, double frequencySpan,
                                     double minAbsDelay, double minAbsFrequency,
                                     double peakThreshold, bool refine, char* message,
                                     size_t messageSize);

/* Reads one recording through the loader the search uses (same names, containers, checks and
 * messages), so that bindings read files exactly as the program does.
 *   path         the recording, named as for Kestrav
 *   format       "ci16", "cf32", "ci8" or "cu8" for bare samples; NULL or "" to go by the name
 *   channel      the channel of a multi-channel SigMF recording; -1 when none is chosen
 *   start        the first sample to read
 *   count        how many samples to read from start; 0 with samples NULL to read none
 *   samples      where to write them: count int16 pairs when *sampleType is KestravInt16,
 *                count float32 pairs when it is KestravFloat32; NULL to learn the type and size
 *   sampleType   out: KestravInt16 for integer recordings (8-bit values kept as they are,
 *                offset binary made signed), KestravFloat32 for float ones; may be NULL
 *   sampleTotal  out: how many samples the recording holds; may be NULL
 *   sampleRate   out: the sample rate it carries in hertz, 0 when it carries none; may be NULL
 *   message      out: a one-line reason on failure (at most messageSize bytes, terminated); may
 *                be NULL
 * Returns KestravOk, or KestravInputError / KestravResourceError with the reason in message and
 * nothing written to samples. */
KESTRAV_API int KestravReadRecording(const char* path, const char* format, int channel,
                                     long long start, long long count, void* samples,
                                     int* sampleType, long long* sampleTotal, double* sampleRate,
                                     char* message, size_t messageSize);

#ifdef __cplusplus
}
#endif

#endif /* KESTRAV_H */
