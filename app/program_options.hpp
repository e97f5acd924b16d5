#pragma once
// The command line of the program: nine options, converted with atoi/atof semantics and
// validated in a fixed order.
#include <string>
#include <vector>

#include "backends/compute_backend.hpp"
#include "engine/recording.hpp"
#include "engine/search.hpp"
#include "engine/search_parameters.hpp"

namespace kestrav {

struct ProgramOptions {
  std::string firstPath;
  std::string secondPath;
  int sampleCount = 0;
  double sampleRate = 0.0;
  double centreDelay = 0.0;  // typed in microseconds; seconds after conversion
  double delayWindow = 0.0;  // typed in microseconds; seconds after conversion
  double jValue = 0.0;       // read and checked for presence only
  double peakThreshold = 0.0;
  int skipRefine = 0;                            // 0 when -p is absent
  BackendKind backend = BackendKind::Automatic;  // --backend
  // Numbers read from only a prefix of their text ("-s 12abc" is 12), said on standard error.
  std::vector<std::string> warnings;

  bool help = false;               // --help/-h: usage on standard output, nothing else
  bool version = false;            // --version
  bool json = false;               // --json: the results as one JSON document
  bool refineAll = false;          // --refine-all: refine every reported result
  bool quiet = false;              // --quiet: no progress line
  bool precise = false;            // --precise: refined results carry the precise delay and offset
  std::string surfacePath;         // --surface FILE: the coarse lag surface as CSV
  std::string plotPath;            // --plot FILE: the lag surface and the zooms as SVG
  double frequencySpan = 16384.0;  // --frequency-span HZ (CommandLineFrequencySpan)
  double minAbsDelay = 0.0;        // --min-abs-delay, typed in microseconds; seconds here
  double minAbsOffset = 0.0;       // --min-abs-offset HZ
  double falseAlarm = 0.0;         // --false-alarm P: the threshold as a probability (0: -t)
  bool distinct = false;           // --distinct: only the results classed as emitters
  bool removeDc = false;           // --remove-dc: each recording's mean subtracted
  std::string mapPath;             // --map FILE.npy: the whole coarse surface
  int threads = 0;                 // --threads N: workers at most; 0: KESTRAV_THREADS or all

  int channel = -1;  // --channel K: the channel of multi-channel SigMF recordings; -1 when absent

  // The recordings as described: bare samples of --format (or the type their name says, ci16 by
  // default), WAV files, SigMF recordings and archives.
  Recording firstRecording;
  Recording secondRecording;
};

// The band the coarse search covers unless --frequency-span says otherwise.
inline constexpr double CommandLineFrequencySpan = 16384.0;

// Parses and validates argv. Throws InputError with a one-line reason: the parser's own message
// for a malformed command line, otherwise what is missing or out of range.
ProgramOptions readOptions(int argc, const char* const* argv);

// The search parameters the command line asks for.
SearchParameters searchParametersOf(const ProgramOptions& options);

}  // namespace kestrav
