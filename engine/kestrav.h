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

/* Searches the two recordings (headerless little-endian int16 I/Q files) for the delay and
 * frequency offset of the second against the first. Writes up to MaxResults records, strongest
 * first, and their number to *resultCount. Returns false, leaving results and *resultCount
 * untouched, when an argument is unusable or the recordings cannot be loaded. */
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

#ifdef __cplusplus
}
#endif

#endif /* KESTRAV_H */
