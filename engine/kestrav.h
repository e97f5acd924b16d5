/* Kestrav: delay and frequency offset between two recordings of the same signal.
 * The C interface of libkestrav.so. */
#ifndef KESTRAV_H
#define KESTRAV_H

#include <stdbool.h>

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

#ifdef __cplusplus
}
#endif

#endif /* KESTRAV_H */
