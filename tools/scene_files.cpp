#include "tools/scene_files.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    throw std::runtime_error("cannot create '" + path.string() + "': " + std::strerror(errno));
  }
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool closed = std::fclose(file) == 0;
  if (written != bytes.size() || !closed) {
    throw std::runtime_error("cannot write '" + path.string() + "': " + std::strerror(errno));
  }
}

double largestComponent(const std::vector<std::complex<double>>& samples) {
  double largest = 0.0;
  for (const auto& sample : samples) {
    largest = std::max({largest, std::fabs(sample.real()), std::fabs(sample.imag())});
  }
  return largest;
}

}  // namespace

std::string sceneTime(long long picoseconds) {
  const long long perSecond = 1000000000000LL;
  const long long whole = picoseconds / perSecond;
  const long long fraction = picoseconds % perSecond;
  const long long days = whole / 86400;
  char text[64];
  std::snprintf(text, sizeof text, "2026-01-%02lldT%02lld:%02lld:%02lld.%012lldZ", 1 + days,
                whole % 86400 / 3600, whole % 3600 / 60, whole % 60, fraction);
  return text;
}

double sceneDelayRangeUs(const SceneConfig& config, const std::vector<SceneReceiver>& receivers) {
  double end = 0.0;
  for (const SceneReceiver& receiver : receivers) {
    end = std::max(end, receiver.start() + config.seconds);
  }
  double widest = 0.0;
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    for (std::size_t j = i + 1; j < receivers.size(); ++j) {
      for (const double t : {0.0, end}) {
        widest = std::max(widest, std::fabs(pairDelay(receivers[i], receivers[j], t)));
      }
    }
  }
  return std::ceil(2.0 * (widest + 32.0 / config.sampleRate) * 1e6);
}

std::vector<SceneReceiver> writeScene(const SceneConfig& config, const SceneFiles& files) {
  validateScene(config);
  if (files.windowSamples < 1 || files.hop < 1) {
    throw std::invalid_argument("the window and the hop must be at least one sample");
  }
  if (files.windowSamples > sceneSampleCount(config)) {
    throw std::invalid_argument("a window must fit within a recording");
  }
  std::error_code error;
  std::filesystem::create_directories(files.directory, error);
  if (error) {
    throw std::runtime_error("cannot create '" + files.directory.string() +
                             "': " + error.message());
  }
  const std::vector<SceneReceiver> receivers = drawReceivers(config);
  const QpskEmission emission = sceneEmission(config, receivers);
  const bool eightBit = files.format == SampleFormat::Ci8 || files.format == SampleFormat::Cu8;
  using nlohmann::json;
  json campaignReceivers = json::array();
  json truthReceivers = json::array();
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    const SceneReceiver& receiver = receivers[k];
    const std::vector<std::complex<double>> samples = recordScene(config, emission, receiver, k);
    const double largest = largestComponent(samples);
    const double scale = largest > 0.0 ? (eightBit ? 127.0 : 32767.0) / largest : 1.0;
    const std::string file = "rx" + receiver.name + ".iq";
    writeFile(files.directory / file, encodeRecording(samples, scale, files.format));
    campaignReceivers.push_back({{"name", receiver.name},
                                 {"recording",
                                  {{"path", file},
                                   {"format", formatName(files.format)},
                                   {"rate_hz", config.sampleRate},
                                   {"start", sceneTime(receiver.startPicoseconds)}}}});
    truthReceivers.push_back({{"name", receiver.name},
                              {"delay_s", receiver.delay},
                              {"delay_rate", receiver.delayRate},
                              {"offset_hz", receiver.offset},
                              {"offset_rate_hz_per_s", receiver.offsetRate},
                              {"start", sceneTime(receiver.startPicoseconds)},
                              {"start_s", receiver.start()}});
  }
  const json campaign{{"campaign", files.campaign},
                      {"receivers", campaignReceivers},
                      {"pairs", "all"},
                      {"windows",
                       {{"samples", files.windowSamples},
                        {"hop", files.hop},
                        {"start_s", 0.0},
                        {"stop_s", config.seconds}}},
                      {"search",
                       {{"centre_us", 0},
                        {"range_us", sceneDelayRangeUs(config, receivers)},
                        {"threshold_db", 15},
                        {"frequency_span_hz", std::min(16384.0, 0.5 * config.sampleRate)},
                        {"precise", files.precise},
                        {"candidates", 3},
                        {"backend", "auto"}}}};
  const json truth{
      {"receivers", truthReceivers},
      {"rate_hz", config.sampleRate},
      {"samples", sceneSampleCount(config)},
      {"snr_db", config.snrDb},
      {"seed", config.seed},
      {"emission",
       {{"modulation", "qpsk-rrc"},
        {"symbol_rate_hz", config.symbolRate > 0.0 ? config.symbolRate : 0.25 * config.sampleRate},
        {"rolloff", config.rolloff}}}};
  writeFile(files.directory / "campaign.json", campaign.dump(2) + "\n");
  writeFile(files.directory / "truth.json", truth.dump(2) + "\n");
  return receivers;
}

}  // namespace kestrav
