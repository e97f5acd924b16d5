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
  double delay; /* seconds; positive when the signal occurs later in the second recording */
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
 * unusable or the recordings cannot be loaded.
 *   results          out: MaxResults records, not overlapping resultCount
 *   resultCount      out: how many records were written, 0 to MaxResults
 *   firstPath        the reference recording
 *   secondPath       the recording measured against it
 *   sampleCount      samples of the first recording to correlate, >= 1 (lowered to what both
 *                    recordings hold beside the window)
 *   sampleRate       hertz, > 0, both recordings
 *   centreDelay      seconds, any sign: the centre of the delay window
 *   delayWindow      seconds, > 0: the window's whole width (rounded up to an even lag count)
 *   frequencySpan    hertz, > 0: the band of frequency offsets the coarse search covers, centred
 *                    on 0 (the program's default is 16384); an offset outside it is checked at
 *                    its images at the full rate
 *   minAbsDelay      seconds, >= 0: results whose |delay| is smaller are dropped; 0 keeps all
 *   minAbsFrequency  hertz, >= 0: results whose |frequency offset| is smaller are dropped; 0
 *                    keeps all
 *   peakThreshold    decibels, > 0: lags whose coarse level is below it are not peaks
 *   refine           true: the best result's delay and offset are refined beyond the grids */
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

/* The same search over recordings held in memory: firstCount and secondCount (>= 0) samples of
 * the given type (sampleType, a KestravSampleType; the whole recordings, placed by the window
 * exactly as files are), the same nine parameters in the same units, ranges and signs as for
 * Kestrav, and the same result records. Returns KestravOk with the results written, or a
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

/* The version of the library, "MAJOR.MINOR.PATCH"; a static string, never NULL. */
KESTRAV_API const char* kestrav_version(void);

/* A whole search, as the program's command line describes it. Fill one with
 * kestrav_default_request() and change what differs: struct_size then says which layout the
 * caller was built with. Later versions only append fields: a library reads the fields
 * struct_size covers and takes the defaults for any after them, and refuses a struct shorter than
 * this first layout or longer than the one it knows. */
typedef struct kestrav_search_request {
  size_t struct_size;       /* sizeof(kestrav_search_request) as the caller was built */
  const char* first_path;   /* the reference recording, named as for Kestrav; required */
  const char* second_path;  /* the recording measured against it; required */
  const char* first_format; /* "ci16", "cf32", "ci8" or "cu8" for bare samples; NULL or "": the
                               type the name says (as Kestrav) */
  const char* second_format;
  int channel;              /* the channel (0, 1, ...) of multi-channel SigMF recordings; -1
                               (default): none chosen */
  long long sample_count;   /* samples of the first recording to correlate, 1 .. 2147483647;
                               0 (default): all of it, up to that limit; lowered to what both
                               recordings hold beside the window */
  double sample_rate;       /* hertz, > 0; 0 (default): the rate the recordings carry (WAV,
                               SigMF), which a positive value must equal */
  double centre_delay;      /* seconds, any sign: the centre of the delay window; default 0 */
  double delay_window;      /* seconds, > 0: the window's whole width; required (default 0 is
                               refused) */
  double frequency_span;    /* hertz, > 0: the band of offsets the coarse search covers, centred
                               on 0; default 16384 */
  double min_abs_delay;     /* seconds, >= 0: smaller |delay| results dropped; default 0 */
  double min_abs_frequency; /* hertz, >= 0: smaller |frequency offset| results dropped; default 0 */
  double peak_threshold;    /* decibels, > 0: the coarse level a peak must reach; default 15;
                               unused when false_alarm is set */
  double false_alarm;       /* a probability, 0 < p < 1: the threshold at which noise alone passes
                               anywhere in the search with this probability, in place of
                               peak_threshold; 0 (default): peak_threshold */
  int refine;               /* non-zero (default 1): refine the best result */
  int refine_all;           /* non-zero: refine every reported result; default 0 */
  int precise;              /* non-zero: the reported delay_s and frequency_offset_hz are the
                               precise estimate's; default 0 (the document always carries both) */
  int distinct;             /* non-zero: only results classed as emitters; default 0 */
  int remove_dc;            /* non-zero: each recording's mean subtracted first; default 0 */
  int threads;              /* worker threads at most, >= 1; 0 (default): KESTRAV_THREADS from
                               the environment, else every hardware thread */
  const char* backend;      /* "auto" (NULL, the default), "host", "cuda" or "reference" */
} kestrav_search_request;

/* A request with every default above and struct_size set; the paths and delay_window are left
 * for the caller. */
KESTRAV_API kestrav_search_request kestrav_default_request(void);

/* Room to add to a length kestrav_search told, for a document that did not fit: more than the
 * timings of another run can add. */
enum { KestravJsonSlack = 1024 };

/* Runs the request and writes the whole result as the JSON document `kestrav --json` prints
 * (UTF-8, terminated): every result with its refinement, precise estimate and deviations, class
 * and flags, and at the top level the version, the inputs as read, every parameter and a
 * "warnings" array (what the program says on standard error). A document rather than structs:
 * fields are added release by release without changing this entry or any layout, and every
 * caller (C, Python) sees them all.
 *   request       the search; struct_size must cover at least this first layout
 *   json          out: the document, json_size bytes at most; may be NULL when json_size is 0
 *   json_size     the bytes json holds, the terminator included
 *   json_length   out: the document's length without its terminator, also when it did not fit;
 *                 0 when the search failed; may be NULL
 *   message       out: a one-line reason on failure, "" on success (at most message_size bytes,
 *                 terminated); may be NULL
 * Returns KestravOk with the document written; KestravInputError when the request or the
 * recordings cannot be used, or when the document does not fit (json_size <= *json_length:
 * nothing is written to json; call again with *json_length + KestravJsonSlack bytes: the search
 * runs again, and its timings may take a few more digits); KestravResourceError when memory or
 * another resource ran out. */
KESTRAV_API int kestrav_search(const kestrav_search_request* request, char* json, size_t json_size,
                               size_t* json_length, char* message, size_t message_size);

#ifdef __cplusplus
}
#endif

#endif /* KESTRAV_H */
