#include "app/program_options.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <type_traits>
#include <vector>

#include "app/option_parser.hpp"
#include "engine/recording.hpp"
#include "engine/search_request.hpp"
#include "engine/sigmf.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

struct OptionName {
  const char* shortName;
  const char* longName;
  const char* meaning;
};

// Declared in this order; every one takes an argument, is single-valued and has no default.
constexpr OptionName Options[] = {
    {"m", "mm", "the first recording"},
    {"a", "aa", "the second recording"},
    {"s", "ss", "the sample count"},
    {"f", "ff", "the sample rate in Hz"},
    {"c", "cc", "the window centre in us"},
    {"r", "rr", "the window width in us"},
    {"j", "jj", "the j value"},
    {"t", "tt", "the peak threshold in dB"},
    {"p", "pp", "skip the refinement"},
};

std::string optionLabel(const OptionName& option) {
  return std::string("-") + option.shortName + "/--" + option.longName;
}

const OptionName& optionNamed(const std::string& longName) {
  for (const OptionName& option : Options) {
    if (longName == option.longName) return option;
  }
  std::terminate();  // only the table's own names are asked for
}

// atoi: the longest decimal prefix after white space, 0 when there is none. A prefix beyond
// 32 bits is reported instead of being converted with undefined behaviour.
// Where the conversion stopped: a value whose text goes on past its number is still read as
// that number, and the caller is told so.
bool onlyBlanksFrom(const char* end) {
  while (*end == ' ' || (*end >= '\t' && *end <= '\r')) ++end;
  return *end == '\0';
}

long long integerPrefix(const std::string& text, bool* whole = nullptr) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (whole != nullptr) *whole = end != text.c_str() && onlyBlanksFrom(end);
  return errno == ERANGE ? (value < 0 ? LLONG_MIN : LLONG_MAX) : value;
}

// atof: the longest floating-point prefix, 0 when there is none.
double realPrefix(const std::string& text, bool* whole) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  *whole = end != text.c_str() && onlyBlanksFrom(end);
  return value;
}

template <class Number>
std::string describeNumber(Number value) {
  char text[64];
  if constexpr (std::is_integral_v<Number>) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(text, sizeof text, "%.17g", value);
  }
  return text;
}

// Reads an option's text as atoi/atof do, noting a warning when only a prefix (or nothing) of
// the text is a number.
class NumberReader {
 public:
  explicit NumberReader(std::vector<std::string>& warnings) : warnings_(warnings) {}
  long long integer(const std::string& text, const char* longName) {
    bool whole = false;
    const long long value = integerPrefix(text, &whole);
    if (!whole) warn(text, longName, describeNumber(value));
    return value;
  }
  double real(const std::string& text, const char* longName) {
    bool whole = false;
    const double value = realPrefix(text, &whole);
    if (!whole) warn(text, longName, describeNumber(value));
    return value;
  }

 private:
  void warn(const std::string& text, const char* longName, const std::string& value) {
    warnings_.push_back(optionLabel(optionNamed(longName)) + " '" + text + "' is read as " + value);
  }
  std::vector<std::string>& warnings_;
};

BackendKind backendOf(const std::string& name) {
  if (const std::optional<BackendKind> kind = backendNamed(name)) return *kind;
  throw InputError("--backend '" + name + "' is not one of auto, host, cuda, reference");
}

std::string required(const OptionParser& parser, const char* longName) {
  if (!parser.exists(longName)) {
    const OptionName& option = optionNamed(longName);
    throw InputError("missing option " + optionLabel(option) + " (" + option.meaning + ")");
  }
  return parser.get(longName);
}

std::string hertz(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.17g Hz", value);
  return text;
}

// The sample rate of -f and of the SigMF metadata (0 where a recording has none): they must agree.
// Where a recording's own sample rate comes from, as messages name it.
const char* rateSource(const Recording& recording) {
  return recording.kind == RecordingKind::Wav ? "WAV header" : "metadata";
}

void reconcileRates(double& sampleRate, bool rateGiven, const std::string& rateText,
                    const Recording& first, const Recording& second) {
  const double firstRate = first.sampleRate;
  const double secondRate = second.sampleRate;
  if (firstRate > 0.0 && secondRate > 0.0 && firstRate != secondRate) {
    throw InputError("the two recordings' sample rates differ: " + hertz(firstRate) + " and " +
                     hertz(secondRate));
  }
  const double metadataRate = firstRate > 0.0 ? firstRate : secondRate;
  if (rateGiven && metadataRate > 0.0 && sampleRate != metadataRate) {
    throw InputError("-f/--ff '" + rateText + "' disagrees with the sample rate " +
                     hertz(metadataRate) + " of the " + (firstRate > 0.0 ? "first" : "second") +
                     " recording's " + rateSource(firstRate > 0.0 ? first : second));
  }
  if (!rateGiven) {
    if (!(metadataRate > 0.0)) {
      throw InputError(
          "missing option -f/--ff (the sample rate in Hz): neither recording gives "
          "its own");
    }
    sampleRate = metadataRate;
  }
}

void requireFinite(double value, const char* longName, const std::string& text) {
  if (!std::isfinite(value)) {
    throw InputError(optionLabel(optionNamed(longName)) + " '" + text + "' is not a finite number");
  }
}

void requirePositive(double value, const char* longName, const std::string& text) {
  if (!(value > 0.0)) {
    throw InputError(optionLabel(optionNamed(longName)) + " (" + optionNamed(longName).meaning +
                     ") must be greater than 0, got '" + text + "'");
  }
}

// A long option's number, all of its text a finite number: these options are new, and take no
// prefix readings.
double longOptionNumber(const OptionParser& parser, const char* longName) {
  const std::string text = parser.get(longName);
  bool whole = false;
  const double value = realPrefix(text, &whole);
  if (!whole || !std::isfinite(value)) {
    throw InputError(std::string("--") + longName + " '" + text + "' is not a finite number");
  }
  return value;
}

}  // namespace

ProgramOptions readOptions(int argc, const char* const* argv) {
  OptionParser parser;
  for (const OptionName& option : Options) {
    parser.addOption(option.shortName, option.longName, 0, "", 1);
  }
  // The long options beside the table: none of them changes a command line valid without them.
  parser.addOption("", "backend", 0, "", 1);
  parser.addOption("h", "help", 1, "", 1);
  parser.addOption("", "version", 1, "", 1);
  parser.addOption("", "json", 1, "", 1);
  parser.addOption("", "refine-all", 1, "", 1);
  parser.addOption("", "surface", 0, "", 1);
  parser.addOption("", "plot", 0, "", 1);
  parser.addOption("", "quiet", 1, "", 1);
  parser.addOption("", "format", 0, "", 1);
  parser.addOption("", "precise", 1, "", 1);
  parser.addOption("", "channel", 0, "", 1);
  parser.addOption("", "frequency-span", 0, "", 1);
  parser.addOption("", "min-abs-delay", 0, "", 1);
  parser.addOption("", "min-abs-offset", 0, "", 1);
  parser.addOption("", "false-alarm", 0, "", 1);
  parser.addOption("", "distinct", 1, "", 1);
  parser.addOption("", "remove-dc", 1, "", 1);
  parser.addOption("", "map", 0, "", 1);
  parser.addOption("", "threads", 0, "", 1);
  try {
    parser.parse(argc, argv);  // positional arguments are ignored
  } catch (const std::exception& error) {
    throw InputError(error.what());
  }

  ProgramOptions options;
  options.help = parser.exists("help");
  options.version = parser.exists("version");
  if (options.help || options.version) return options;
  options.json = parser.exists("json");
  options.refineAll = parser.exists("refine-all");
  options.quiet = parser.exists("quiet");
  options.precise = parser.exists("precise");
  options.surfacePath = parser.get("surface");
  options.plotPath = parser.get("plot");
  if (parser.exists("surface") && options.surfacePath.empty()) {
    throw InputError("--surface needs a file name");
  }
  if (parser.exists("plot") && options.plotPath.empty()) {
    throw InputError("--plot needs a file name");
  }
  options.distinct = parser.exists("distinct");
  options.removeDc = parser.exists("remove-dc");
  options.mapPath = parser.get("map");
  if (parser.exists("map") && options.mapPath.empty()) throw InputError("--map needs a file name");
  if (parser.exists("frequency-span")) {
    options.frequencySpan = longOptionNumber(parser, "frequency-span");
    if (!(options.frequencySpan > 0.0)) {
      throw InputError("--frequency-span (the band in Hz) must be greater than 0");
    }
  }
  if (parser.exists("min-abs-delay")) {
    options.minAbsDelay = longOptionNumber(parser, "min-abs-delay");
    if (options.minAbsDelay < 0.0) throw InputError("--min-abs-delay must not be negative");
  }
  if (parser.exists("min-abs-offset")) {
    options.minAbsOffset = longOptionNumber(parser, "min-abs-offset");
    if (options.minAbsOffset < 0.0) throw InputError("--min-abs-offset must not be negative");
  }
  if (parser.exists("threads")) {
    const std::string text = parser.get("threads");
    bool whole = false;
    const long long threads = integerPrefix(text, &whole);
    if (!whole || threads < 1 || threads > INT_MAX) {
      throw InputError("--threads '" + text + "' is not a number of worker threads (1, 2, ...)");
    }
    options.threads = static_cast<int>(threads);
  }
  const bool probabilityThreshold = parser.exists("false-alarm");
  if (probabilityThreshold) {
    options.falseAlarm = longOptionNumber(parser, "false-alarm");
    if (!(options.falseAlarm > 0.0 && options.falseAlarm < 1.0)) {
      throw InputError("--false-alarm (a probability) must lie between 0 and 1, exclusive");
    }
    if (parser.exists("tt")) {
      throw InputError("-t/--tt and --false-alarm both set the peak threshold: give one");
    }
  }
  options.firstPath = required(parser, "mm");
  options.secondPath = required(parser, "aa");
  const std::string sampleCountText = required(parser, "ss");
  // A WAV or SigMF recording may carry its sample rate, so -f may then be left out.
  const bool rateCarried =
      mayCarrySampleRate(options.firstPath) || mayCarrySampleRate(options.secondPath);
  const bool rateGiven = !rateCarried || parser.exists("ff");
  const std::string sampleRateText = rateGiven ? required(parser, "ff") : std::string();
  const std::string centreText = required(parser, "cc");
  const std::string windowText = required(parser, "rr");
  const std::string jText = required(parser, "jj");
  // With --false-alarm the threshold follows from the probability and -t stays out.
  const std::string thresholdText =
      probabilityThreshold ? std::string("1") : required(parser, "tt");
  NumberReader numbers(options.warnings);
  const long long sampleCount = numbers.integer(sampleCountText, "ss");
  if (rateGiven) options.sampleRate = numbers.real(sampleRateText, "ff");
  options.centreDelay = numbers.real(centreText, "cc");
  options.delayWindow = numbers.real(windowText, "rr");
  options.jValue = numbers.real(jText, "jj");
  options.peakThreshold = numbers.real(thresholdText, "tt");
  if (parser.exists("pp")) {
    // Any non-zero prefix, however large, asks to skip the refinement.
    options.skipRefine = numbers.integer(parser.get("pp"), "pp") != 0 ? 1 : 0;
  }

  if (parser.exists("backend")) options.backend = backendOf(parser.get("backend"));
  std::optional<SampleFormat> format;
  if (parser.exists("format")) {
    format = formatNamed(parser.get("format"));
    if (!format) {
      throw InputError("--format '" + parser.get("format") +
                       "' is not one of ci16, cf32, ci8, cu8");
    }
  }

  RecordingRequest request{format, -1};
  if (parser.exists("channel")) {
    const std::string text = parser.get("channel");
    bool whole = false;
    const long long channel = integerPrefix(text, &whole);
    if (!whole || channel < 0 || channel > INT_MAX) {
      throw InputError("--channel '" + text + "' is not a channel number (0, 1, ...)");
    }
    options.channel = request.channel = static_cast<int>(channel);
  }
  options.firstRecording = describeRecording(options.firstPath, request, "first");
  options.secondRecording = describeRecording(options.secondPath, request, "second");
  for (const Recording* recording : {&options.firstRecording, &options.secondRecording}) {
    options.warnings.insert(options.warnings.end(), recording->warnings.begin(),
                            recording->warnings.end());
  }
  if (sampleCount > INT_MAX) {
    throw InputError("-s/--ss (the sample count) '" + sampleCountText +
                     "' is beyond the supported 2147483647 samples");
  }
  requirePositive(static_cast<double>(sampleCount), "ss", sampleCountText);
  options.sampleCount = static_cast<int>(sampleCount);
  if (rateGiven) {
    requireFinite(options.sampleRate, "ff", sampleRateText);
    requirePositive(options.sampleRate, "ff", sampleRateText);
  }
  reconcileRates(options.sampleRate, rateGiven, sampleRateText, options.firstRecording,
                 options.secondRecording);
  requireFinite(options.centreDelay, "cc", centreText);
  requireFinite(options.delayWindow, "rr", windowText);
  requirePositive(options.delayWindow, "rr", windowText);
  requireFinite(options.jValue, "jj", jText);
  requireFinite(options.peakThreshold, "tt", thresholdText);
  requirePositive(options.peakThreshold, "tt", thresholdText);

  options.centreDelay *= 0.000001;
  options.delayWindow *= 0.000001;
  options.minAbsDelay *= 0.000001;
  return options;
}

SearchParameters searchParametersOf(const ProgramOptions& options) {
  SearchParameters parameters;
  parameters.sampleCount = options.sampleCount;
  parameters.sampleRate = options.sampleRate;
  parameters.centreDelay = options.centreDelay;
  parameters.delayWindow = options.delayWindow;
  parameters.frequencySpan = options.frequencySpan;
  parameters.minAbsDelay = options.minAbsDelay;
  parameters.minAbsFrequency = options.minAbsOffset;
  parameters.peakThreshold = options.peakThreshold;
  parameters.refine = options.skipRefine == 0;
  return parameters;
}

}  // namespace kestrav
