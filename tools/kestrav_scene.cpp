// kestrav-scene: writes a scene of one emitter heard by several receivers whose delays and
// frequency offsets drift linearly, the campaign that searches every pair, and the truth.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/option_parser.hpp"
#include "tools/option_numbers.hpp"
#include "tools/scene_files.hpp"

namespace {

using kestrav::tools::number;
using kestrav::tools::optionalNumber;

constexpr const char* Usage =
    "usage: kestrav-scene --out DIR [--receivers 3] [--seconds 2.0] [--rate 1000000]\n"
    "         [--format ci16|cf32|ci8|cu8] [--snr-db 20] [--seed 1] [--window-samples 262144]\n"
    "         [--hop 262144] [--precise]\n"
    "Writes DIR/rxA.iq, DIR/rxB.iq, ..., DIR/campaign.json (every pair, the windows, a search\n"
    "that holds every delay; --precise asks it for the precise estimate) and DIR/truth.json (each\n"
    "receiver's delay and offset of arrival as lines in campaign time, and its start time).\n";

long long wholeNumber(const kestrav::OptionParser& parser, const char* option, long long fallback,
                      double low, double high) {
  const double value = optionalNumber(parser, option, static_cast<double>(fallback));
  if (value != std::floor(value) || value < low || value > high) {
    throw std::runtime_error(std::string("--") + option + " must be a whole number from " +
                             std::to_string(static_cast<long long>(low)) + " to " +
                             std::to_string(static_cast<long long>(high)));
  }
  return static_cast<long long>(value);
}

int run(int argc, char** argv) {
  kestrav::OptionParser parser;
  for (const char* name : {"out", "receivers", "seconds", "rate", "format", "snr-db", "seed",
                           "window-samples", "hop"}) {
    parser.addOption("", name, 0, "", 1);
  }
  parser.addOption("", "precise", 1, "", 1);
  parser.addOption("h", "help", 1, "", 1);
  const std::vector<std::string> positional = parser.parse(argc, argv);
  if (parser.exists("help")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (!positional.empty()) throw std::runtime_error("unexpected argument '" + positional[0] + "'");
  if (!parser.exists("out")) throw std::runtime_error("--out names the folder to write");

  kestrav::SceneConfig config;
  config.receivers = static_cast<int>(wholeNumber(parser, "receivers", config.receivers, 2, 26));
  config.seconds = optionalNumber(parser, "seconds", config.seconds);
  config.sampleRate = optionalNumber(parser, "rate", config.sampleRate);
  config.snrDb = optionalNumber(parser, "snr-db", config.snrDb);
  config.seed = static_cast<std::uint64_t>(wholeNumber(parser, "seed", 1, 0, 9007199254740992.0));
  kestrav::SceneFiles files;
  files.directory = parser.get("out");
  files.windowSamples =
      static_cast<int>(wholeNumber(parser, "window-samples", files.windowSamples, 1, 1 << 28));
  files.hop = static_cast<int>(wholeNumber(parser, "hop", files.hop, 1, 1 << 28));
  files.precise = parser.exists("precise");
  const std::string formatText = parser.exists("format") ? parser.get("format") : "ci16";
  const std::optional<kestrav::SampleFormat> format = kestrav::formatNamed(formatText);
  if (!format) {
    throw std::runtime_error("--format '" + formatText + "' is not ci16, cf32, ci8 or cu8");
  }
  files.format = *format;

  const std::vector<kestrav::SceneReceiver> receivers = kestrav::writeScene(config, files);
  std::printf("wrote %s: %d receivers, %lld samples each at %.17g Hz, SNR %g dB, seed %llu\n",
              files.directory.c_str(), config.receivers, kestrav::sceneSampleCount(config),
              config.sampleRate, config.snrDb, static_cast<unsigned long long>(config.seed));
  for (const kestrav::SceneReceiver& receiver : receivers) {
    std::printf("%s: start %s, delay %.6f us %+.3f ns/s, offset %.6f Hz %+.6f Hz/s\n",
                receiver.name.c_str(), kestrav::sceneTime(receiver.startPicoseconds).c_str(),
                receiver.delay * 1e6, receiver.delayRate * 1e9, receiver.offset,
                receiver.offsetRate);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kestrav-scene: %s\n", error.what());
    return 2;
  }
}
