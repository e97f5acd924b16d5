// Realism: modulated emitters (shaped PSK, GMSK, FM, OFDM, bursts) through impaired channels
// (noise, 8-bit receivers with DC, offsets beyond the coarse band, a second emitter, an echo at
// either receiver), searched with a low threshold so that sidelobes, the DC ridge and noise are
// all listed. Each listed result is judged against the truth the generator knows, and the table
// gives, per true class, how often the search's class agreed; and per scenario how often the
// best result was right, with the full-rate checks and without them.
//
//   realism_bench [--seeds N] [--example DIR]   (--example writes the pair of the README figure)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/sample_source.hpp"
#include "engine/search.hpp"
#include "tools/modulated_pair.hpp"

namespace kestrav {
namespace {

struct Scenario {
  const char* name;
  ModulatedPairConfig config;
  SampleFormat format = SampleFormat::Ci16;
};

ModulatedEmitter emitter(Waveform waveform, double delayUs, double offset, double powerDb,
                         double symbolRate) {
  ModulatedEmitter e;
  e.waveform = waveform;
  e.delay = delayUs * 1e-6;
  e.frequencyOffset = offset;
  e.powerDb = powerDb;
  e.symbolRate = symbolRate;
  return e;
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> list;
  const auto add = [&](const char* name, std::vector<ModulatedEmitter> emitters, double snr,
                       double rate = 1.0e6) {
    Scenario s{name, {}, SampleFormat::Ci16};
    s.config.emitters = std::move(emitters);
    s.config.snrDb = snr;
    s.config.sampleRate = rate;
    list.push_back(s);
    return &list.back();
  };
  add("QPSK RRC 0.35, 125 kBd", {emitter(Waveform::Psk, 40.25, 1500.0, 0, 125e3)}, 20);
  add("QPSK RRC 0.35, 125 kBd, 0 dB", {emitter(Waveform::Psk, -63.6, -2200.0, 0, 125e3)}, 0);
  add("GMSK 100 kBd", {emitter(Waveform::Gmsk, 12.4, 700.0, 0, 100e3)}, 15);
  add("FM, 50 kHz message", {emitter(Waveform::Fm, -20.7, 3300.0, 0, 50e3)}, 15);
  add("OFDM 64 + 16 prefix", {emitter(Waveform::Ofdm, 25.1, -900.0, 0, 0)}, 20);
  {
    ModulatedEmitter burst = emitter(Waveform::Gmsk, 55.0, 1875.0, 0, 270833.0);
    burst.burstOn = 577;
    burst.burstPeriod = 5000;
    add("GMSK bursts 577/5000", {burst}, 10, 1083333.0);
    add("GMSK bursts 577/5000, 0 dB", {burst}, 0, 1083333.0);
    burst.frequencyOffset = 1875.0 + 1.1;  // between two coarse bins
    add("GMSK bursts 577/5000, 0 dB, off-bin", {burst}, 0, 1083333.0);
  }
  add("two QPSK 6 dB apart",
      {emitter(Waveform::Psk, 60.0, 1200.0, 0, 125e3),
       emitter(Waveform::Psk, -45.0, -3100.0, -6, 125e3)},
      25);
  {
    Scenario* s = add("QPSK, cu8 with DC", {emitter(Waveform::Psk, 30.0, 2100.0, 0, 125e3)}, 15);
    s->format = SampleFormat::Cu8;
    s->config.firstDc = {0.35, -0.2};
    s->config.secondDc = {0.3, 0.25};
  }
  {
    ModulatedEmitter echoed = emitter(Waveform::Psk, 20.0, 900.0, 0, 250e3);
    echoed.echoDelay = 12.4e-6;
    echoed.echoPowerDb = -6.0;
    add("QPSK 250 kBd, echo at the second receiver", {echoed}, 20);
    echoed.echoDelay = 0.0;
    echoed.firstEchoDelay = 12.4e-6;
    echoed.firstEchoPowerDb = -6.0;
    add("QPSK 250 kBd, echo at the first receiver", {echoed}, 20);
  }
  add("QPSK at +12 kHz", {emitter(Waveform::Psk, 37.25, 12000.0, 0, 125e3)}, 20);
  add("FM at +30 kHz", {emitter(Waveform::Fm, -15.5, 30000.0, 0, 50e3)}, 20);
  return list;
}

// What a listed result truly is: an emitter's own peak, an echo's (a path: later for the second
// receiver's echo, earlier for the first's), on an emitter's frequency ridge or at its
// symbol-rate features (a sidelobe), on the DC ridge of receivers with DC, or elsewhere (noise).
// A comb tooth of bursts counts as a sidelobe.
ResultClass truthOf(const SearchResult& result, const Scenario& scenario, double binHz) {
  const double fs = scenario.config.sampleRate;
  for (const ModulatedEmitter& e : scenario.config.emitters) {
    const auto at = [&](double delay) {
      return std::fabs(result.delay - delay) * fs < 1.5 &&
             std::fabs(result.frequencyOffset - e.frequencyOffset) < 3.0 * binHz;
    };
    if (at(e.delay)) return ResultClass::Emitter;
    if ((e.echoDelay != 0.0 && at(e.delay + e.echoDelay)) ||
        (e.firstEchoDelay != 0.0 && at(e.delay - e.firstEchoDelay))) {
      return ResultClass::Path;
    }
  }
  const bool dc =
      std::abs(scenario.config.firstDc) > 0.0 && std::abs(scenario.config.secondDc) > 0.0;
  if (dc && std::fabs(result.frequencyOffset) < 2.0 * binHz) return ResultClass::Dc;
  for (const ModulatedEmitter& e : scenario.config.emitters) {
    std::vector<double> features{0.0, e.symbolRate, -e.symbolRate};
    // Bursts: the teeth of the burst-rate comb.
    for (int k = 1; e.burstPeriod > 0 && k <= 5; ++k) {
      features.push_back(k * fs / e.burstPeriod);
      features.push_back(-k * fs / e.burstPeriod);
    }
    for (const double feature : features) {
      if (std::fabs(result.frequencyOffset - e.frequencyOffset - feature) < 3.0 * binHz) {
        return ResultClass::Sidelobe;
      }
    }
  }
  return ResultClass::Noise;
}

bool bestIsRight(const SearchResult& best, const Scenario& scenario) {
  const ModulatedEmitter& e = scenario.config.emitters.front();
  return std::fabs(best.delay - e.delay) * scenario.config.sampleRate < 1.0 &&
         std::fabs(best.frequencyOffset - e.frequencyOffset) < 5.0;
}

SearchOutcome searchPair(const ComplexPair& pair, const Scenario& scenario, bool checks,
                         std::string& first, std::string& second) {
  const bool eightBit = scenario.format == SampleFormat::Cu8;
  const double scale = fullScale(pair, eightBit ? 127.0 : 32767.0);
  first = encodeRecording(pair.first, scale, scenario.format);
  second = encodeRecording(pair.second, scale, scenario.format);
  SearchParameters parameters;
  parameters.sampleCount = scenario.config.sampleCount;
  parameters.sampleRate = scenario.config.sampleRate;
  parameters.centreDelay = 0.0;
  parameters.delayWindow = 311e-6;
  parameters.frequencySpan = 16384.0;
  parameters.peakThreshold = 10.0;
  parameters.refine = true;
  SearchOptions options;
  options.backend = BackendKind::Host;
  options.driver.classify = true;
  options.driver.checkAliases = checks;
  options.driver.weighCompetitors = checks;
  const long long samples = scenario.config.sampleCount;
  return searchSources(wrapSamples(first.data(), samples, scenario.format),
                       wrapSamples(second.data(), samples, scenario.format), parameters, options);
}

int run(int argc, char** argv) {
  int seeds = 5;
  std::string example;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seeds") == 0) seeds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--example") == 0) example = argv[i + 1];
  }
  const std::vector<Scenario> list = scenarios();
  if (!example.empty()) {
    // Every class in one pair: shaped QPSK with a weaker second emitter, 8-bit receivers with
    // DC, searched with a low threshold.
    ModulatedPairConfig config;
    config.emitters = {emitter(Waveform::Psk, 40.25, 1500.0, 0, 125e3),
                       emitter(Waveform::Ofdm, -70.5, -2600.0, -8, 0)};
    config.snrDb = 15.0;
    config.firstDc = {0.2, -0.1};
    config.secondDc = {0.15, 0.15};
    config.seed = 3;
    const ComplexPair pair = generateModulatedPair(config);
    const double scale = fullScale(pair, 127.0);
    for (const auto& [name, samples] :
         {std::pair{"first.cu8", &pair.first}, std::pair{"second.cu8", &pair.second}}) {
      const std::string bytes = encodeRecording(*samples, scale, SampleFormat::Cu8);
      std::FILE* file = std::fopen((example + "/" + name).c_str(), "wb");
      if (file == nullptr) return 1;
      std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
    std::printf("wrote %s/first.cu8 and second.cu8: 262144 samples at 1 MHz\n", example.c_str());
    return 0;
  }

  const ResultClass classes[] = {ResultClass::Emitter, ResultClass::Sidelobe, ResultClass::Dc,
                                 ResultClass::Noise, ResultClass::Path};
  std::map<std::pair<int, int>, int> confusion;  // (truth, found) -> count
  std::printf(
      "| scenario | best right, full-rate checks | best right, coarse only | flagged ambiguous or "
      "alias-ambiguous |\n");
  std::printf("|---|---|---|---|\n");
  for (const Scenario& scenario : list) {
    int rightWith = 0;
    int rightWithout = 0;
    int flagged = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
      ModulatedPairConfig config = scenario.config;
      config.seed = static_cast<std::uint64_t>(seed);
      const ComplexPair pair = generateModulatedPair(config);
      std::string first, second;
      const SearchOutcome with = searchPair(pair, scenario, true, first, second);
      const SearchOutcome without = searchPair(pair, scenario, false, first, second);
      if (!with.results.empty() && bestIsRight(with.results[0], scenario)) ++rightWith;
      if (!without.results.empty() && bestIsRight(without.results[0], scenario)) ++rightWithout;
      if (!with.qualities.empty() &&
          (with.qualities[0].ambiguous || with.qualities[0].aliasAmbiguous)) {
        ++flagged;
      }
      const double binHz = with.sizes.decimatedRate / static_cast<double>(with.sizes.fftLength);
      for (std::size_t r = 0; r < with.results.size(); ++r) {
        const ResultClass truth = truthOf(with.results[r], scenario, binHz);
        ++confusion[{static_cast<int>(truth), static_cast<int>(with.qualities[r].resultClass)}];
      }
    }
    std::printf("| %s | %d/%d | %d/%d | %d |\n", scenario.name, rightWith, seeds, rightWithout,
                seeds, flagged);
  }
  std::printf(
      "\n| true class | listed | classed emitter | sidelobe | dc | noise | path | right |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const ResultClass truth : classes) {
    int listed = 0;
    for (const ResultClass found : classes) {
      listed += confusion[{static_cast<int>(truth), static_cast<int>(found)}];
    }
    std::printf("| %s | %d", resultClassName(truth), listed);
    for (const ResultClass found : classes) {
      std::printf(" | %d", confusion[{static_cast<int>(truth), static_cast<int>(found)}]);
    }
    const int right = confusion[{static_cast<int>(truth), static_cast<int>(truth)}];
    std::printf(" | %.0f%% |\n", listed > 0 ? 100.0 * right / listed : 0.0);
  }
  return 0;
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) { return kestrav::run(argc, argv); }
