// kestrav-synth: writes a pair of int16 I/Q recordings with a known delay and frequency offset,
// and prints the truth and the kestrav command line that searches for it.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/option_parser.hpp"
#include "tools/option_numbers.hpp"
#include "tools/synthetic_pair.hpp"

namespace {

using kestrav::tools::number;
using kestrav::tools::optionalNumber;

using kestrav::Emitter;
using kestrav::PairConfig;

constexpr const char* Usage =
    "usage: kestrav-synth --first=FILE --second=FILE [--samples=N] [--rate=HZ]\n"
    "         [--bandwidth=HZ] [--delay-us=US] [--offset-hz=HZ] [--snr-db=DB] [--seed=N]\n"
    "         [--emitter=DELAY_US:OFFSET_HZ:POWER_DB]... [--window-us=US] [--threshold-db=DB]\n"
    "         [--format=ci16|cf32|ci8|cu8] [--sigmf]\n"
    "Defaults: 262144 samples at 1000000 Hz, bandwidth 0.6 of the rate, delay 0, offset 0,\n"
    "SNR 20 dB, seed 1, threshold 15 dB, ci16. Each --emitter adds a further emitter.\n"
    "Integer formats are scaled so that the largest component is full scale; cf32 keeps the\n"
    "int16 scale unrounded. --sigmf writes NAME.sigmf-data and NAME.sigmf-meta for each path.\n";

Emitter parseEmitter(const std::string& text) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) {
    throw std::runtime_error("--emitter '" + text + "' is not DELAY_US:OFFSET_HZ:POWER_DB");
  }
  return Emitter{number(text.substr(0, first), "emitter") * 1e-6,
                 number(text.substr(first + 1, second - first - 1), "emitter"),
                 number(text.substr(second + 1), "emitter")};
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    throw std::runtime_error("cannot create '" + path + "': " + std::strerror(errno));
  }
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (written != bytes.size() || !closed) {
    throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
  }
}

std::string sigmfBase(const std::string& path) {
  for (const char* suffix : {".sigmf-meta", ".sigmf-data"}) {
    const std::size_t length = std::strlen(suffix);
    if (path.size() > length && path.compare(path.size() - length, length, suffix) == 0) {
      return path.substr(0, path.size() - length);
    }
  }
  return path;
}

// Writes one recording; returns the path to name it by on the kestrav command line.
std::string writeRecording(const std::string& path, const std::string& bytes,
                           kestrav::SampleFormat format, bool sigmf, double sampleRate) {
  if (!sigmf) {
    writeFile(path, bytes);
    return path;
  }
  const std::string base = sigmfBase(path);
  writeFile(base + ".sigmf-data", bytes);
  const std::string datatype =
      std::string(kestrav::formatName(format)) +
      (format == kestrav::SampleFormat::Ci16 || format == kestrav::SampleFormat::Cf32 ? "_le" : "");
  const nlohmann::json meta{
      {"global",
       {{"core:datatype", datatype},
        {"core:sample_rate", sampleRate},
        {"core:version", "1.0.0"},
        {"core:description", "a generated pair with a known delay and frequency offset"}}},
      {"captures", nlohmann::json::array({{{"core:sample_start", 0}}})},
      {"annotations", nlohmann::json::array()}};
  writeFile(base + ".sigmf-meta", meta.dump(2) + "\n");
  return base + ".sigmf-meta";
}

int run(int argc, char** argv) {
  kestrav::OptionParser parser;
  for (const char* name : {"first", "second", "samples", "rate", "bandwidth", "delay-us",
                           "offset-hz", "snr-db", "seed", "window-us", "threshold-db"}) {
    parser.addOption("", name, 0, "", 1);
  }
  parser.addOption("", "emitter", 0, "", 0);
  parser.addOption("", "format", 0, "", 1);
  parser.addOption("", "sigmf", 1, "", 1);
  parser.addOption("h", "help", 1, "", 1);
  parser.parse(argc, argv);
  if (parser.exists("help")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (!parser.exists("first") || !parser.exists("second")) {
    throw std::runtime_error("--first and --second name the two recordings to write");
  }

  PairConfig config;
  const double samples = optionalNumber(parser, "samples", config.sampleCount);
  if (samples < 1 || samples > 1 << 28 || samples != std::floor(samples)) {
    throw std::runtime_error("--samples must be a whole number from 1 to 268435456");
  }
  config.sampleCount = static_cast<int>(samples);
  config.sampleRate = optionalNumber(parser, "rate", config.sampleRate);
  if (!(config.sampleRate > 0.0)) throw std::runtime_error("--rate must be greater than 0");
  config.bandwidth = optionalNumber(parser, "bandwidth", 0.6 * config.sampleRate);
  config.snrDb = optionalNumber(parser, "snr-db", config.snrDb);
  config.seed = static_cast<std::uint64_t>(optionalNumber(parser, "seed", 1));
  config.emitters = {Emitter{optionalNumber(parser, "delay-us", 0.0) * 1e-6,
                             optionalNumber(parser, "offset-hz", 0.0), 0.0}};
  for (const std::string& text : parser.getList("emitter")) {
    config.emitters.push_back(parseEmitter(text));
  }

  const std::string formatText = parser.exists("format") ? parser.get("format") : "ci16";
  const std::optional<kestrav::SampleFormat> format = kestrav::formatNamed(formatText);
  if (!format)
    throw std::runtime_error("--format '" + formatText + "' is not ci16, cf32, ci8 or cu8");
  const bool sigmf = parser.exists("sigmf");

  const kestrav::ComplexPair pair = kestrav::generatePair(config);
  const bool eightBit =
      *format == kestrav::SampleFormat::Ci8 || *format == kestrav::SampleFormat::Cu8;
  const double scale = kestrav::fullScale(pair, eightBit ? 127.0 : 32767.0);
  const std::string firstPath =
      writeRecording(parser.get("first"), kestrav::encodeRecording(pair.first, scale, *format),
                     *format, sigmf, config.sampleRate);
  const std::string secondPath =
      writeRecording(parser.get("second"), kestrav::encodeRecording(pair.second, scale, *format),
                     *format, sigmf, config.sampleRate);

  double widestDelayUs = 0.0;
  std::printf("wrote %s and %s: %d samples at %.17g Hz, SNR %g dB, seed %llu\n", firstPath.c_str(),
              secondPath.c_str(), config.sampleCount, config.sampleRate, config.snrDb,
              static_cast<unsigned long long>(config.seed));
  for (std::size_t e = 0; e < config.emitters.size(); ++e) {
    const Emitter& emitter = config.emitters[e];
    std::printf("true delay %.6f us (%.6f samples), true frequency offset %.6f Hz, power %g dB\n",
                emitter.delay * 1e6, emitter.delay * config.sampleRate, emitter.frequencyOffset,
                emitter.powerDb);
    widestDelayUs = std::max(widestDelayUs, std::fabs(emitter.delay * 1e6));
  }
  // By default the window is centred on zero and reaches 32 samples past the farthest emitter.
  const double windowUs = optionalNumber(
      parser, "window-us", std::ceil(2.0 * widestDelayUs + 64.0e6 / config.sampleRate));
  // A SigMF recording carries its rate and datatype; a plain file needs both on the command line.
  char rate[48] = "";
  if (!sigmf) std::snprintf(rate, sizeof rate, " -f %.17g", config.sampleRate);
  const std::string formatOption =
      sigmf || *format == kestrav::SampleFormat::Ci16 ? "" : " --format=" + formatText;
  std::printf("search: kestrav -m %s -a %s -s %d%s -c 0 -r %.17g -j 0 -t %.17g%s\n",
              firstPath.c_str(), secondPath.c_str(), config.sampleCount, rate, windowUs,
              optionalNumber(parser, "threshold-db", 15.0), formatOption.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kestrav-synth: %s\n", error.what());
    return 2;
  }
}
