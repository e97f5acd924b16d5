// What each result is: emitters told from sidelobes, the DC ridge and noise; offsets beyond the
// coarse band moved to their true image; edges, comb teeth and the options that act on classes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/label_layout.hpp"
#include "support/search_output.hpp"
#include "support/test_files.hpp"
#include "tools/modulated_pair.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using nlohmann::json;
using testing::ProcessResult;

struct Recordings {
  std::string first;
  std::string second;
  SampleFormat format = SampleFormat::Ci16;
};

class ResultClasses : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scratch_ = new testing::ScratchDirectory; }
  static void TearDownTestSuite() { delete scratch_; }

  static Recordings write(const std::string& name, const ComplexPair& pair,
                          SampleFormat format = SampleFormat::Ci16) {
    const double top = format == SampleFormat::Ci16 ? 32767.0 : 127.0;
    const double scale = fullScale(pair, top);
    Recordings files{scratch_->path(name + ".1").string(), scratch_->path(name + ".2").string(),
                     format};
    testing::writeBytes(files.first, encodeRecording(pair.first, scale, format));
    testing::writeBytes(files.second, encodeRecording(pair.second, scale, format));
    return files;
  }
  static ProcessResult run(const Recordings& files, const std::vector<std::string>& extra,
                           const std::string& rate = "1000000", const std::string& centre = "0",
                           const std::string& window = "311",
                           const std::string& samples = "262144") {
    std::vector<std::string> args{"-m",    files.first, "-a", files.second, "-s",
                                  samples, "-f",        rate, "-c",         centre,
                                  "-r",    window,      "-j", "0",          "--quiet"};
    if (files.format == SampleFormat::Cu8) {
      args.insert(args.end(), {"--format", "cu8"});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }
  static json runJson(const Recordings& files, std::vector<std::string> extra,
                      const std::string& rate = "1000000", const std::string& centre = "0",
                      const std::string& window = "311") {
    extra.push_back("--json");
    const ProcessResult result = run(files, extra, rate, centre, window);
    EXPECT_EQ(result.status, 0) << result.err;
    return json::parse(result.out);
  }
  static int countClass(const json& document, const std::string& name) {
    int count = 0;
    for (const json& result : document["results"]) count += result["class"] == name ? 1 : 0;
    return count;
  }

  static inline testing::ScratchDirectory* scratch_ = nullptr;
};

ModulatedPairConfig single(const ModulatedEmitter& emitter, double snrDb = 20.0,
                           std::uint64_t seed = 7) {
  ModulatedPairConfig config;
  config.emitters = {emitter};
  config.snrDb = snrDb;
  config.seed = seed;
  return config;
}

// One shaped emitter: its best result is the emitter, everything else listed is explained by it
// (or is noise), and --distinct keeps the one result.
TEST_F(ResultClasses, ShapedEmittersSidelobesAreClassedSidelobes) {
  struct Case {
    const char* name;
    ModulatedEmitter emitter;
    const char* window;
  };
  const Case cases[] = {
      {"rrc-psk", {Waveform::Psk, 40.25e-6, 1500.0, 0.0, 125.0e3, 0.35}, "311"},
      {"rrc-psk-narrow", {Waveform::Psk, -20.5e-6, -2500.0, 0.0, 62.5e3, 0.2}, "311"},
      {"ofdm-cp", {Waveform::Ofdm, 10.0e-6, 700.0, 0.0, 0.0, 0.0, 64, 16}, "311"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Recordings files = write(c.name, generateModulatedPair(single(c.emitter, 30.0)));
    const json document = runJson(files, {"-t", "10"}, "1000000", "0", c.window);
    const json& results = document["results"];
    ASSERT_GE(results.size(), 2u) << "the case should list sidelobes";
    EXPECT_EQ(results[0]["class"], "emitter");
    EXPECT_NEAR(results[0]["delay_us"].get<double>(), c.emitter.delay * 1e6, 0.1);
    EXPECT_NEAR(results[0]["frequency_offset_hz"].get<double>(), c.emitter.frequencyOffset, 2.0);
    EXPECT_EQ(countClass(document, "emitter"), 1) << results.dump(1);
    for (std::size_t r = 1; r < results.size(); ++r) {
      if (results[r]["class"] == "sidelobe") {
        EXPECT_EQ(results[r]["explained_by"], 0);
      }
    }
    EXPECT_GE(countClass(document, "sidelobe"), 1);
    // The emission's own structure (shaping, a cyclic prefix) is no echo.
    EXPECT_EQ(countClass(document, "path"), 0);
    const ProcessResult distinct = run(files, {"-t", "10", "--distinct"}, "1000000", "0", c.window);
    ASSERT_EQ(distinct.status, 0) << distinct.err;
    EXPECT_EQ(testing::parseResults(distinct.out).size(), 1u) << distinct.out;
  }
}

// Two emitters of their own, 6 dB apart at different delays and offsets: both stay emitters.
TEST_F(ResultClasses, TwoRealEmittersAreBothEmitters) {
  struct Case {
    const char* name;
    Waveform waveform;
    double symbolRate;
  };
  const Case cases[] = {{"two-psk", Waveform::Psk, 125.0e3},
                        {"two-gmsk", Waveform::Gmsk, 100.0e3},
                        {"two-fm", Waveform::Fm, 50.0e3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulatedPairConfig config;
    config.snrDb = 25.0;
    config.emitters = {{c.waveform, 60.0e-6, 1200.0, 0.0, c.symbolRate},
                       {c.waveform, -45.0e-6, -3100.0, -6.0, c.symbolRate}};
    const json document = runJson(write(c.name, generateModulatedPair(config)), {"-t", "12"});
    int found = 0;
    for (const json& result : document["results"]) {
      for (const ModulatedEmitter& e : config.emitters) {
        if (std::fabs(result["delay_us"].get<double>() - e.delay * 1e6) < 3.0 &&
            std::fabs(result["frequency_offset_hz"].get<double>() - e.frequencyOffset) < 10.0) {
          EXPECT_EQ(result["class"], "emitter") << result.dump();
          ++found;
        }
      }
    }
    EXPECT_GE(found, 2) << document["results"].dump(1);
  }
}

// 8-bit receivers with DC offsets: the 0 Hz ridge is classed dc, and --remove-dc takes it away.
TEST_F(ResultClasses, DcRidgeOfAnEightBitPairIsClassedDc) {
  struct Case {
    const char* name;
    std::complex<double> firstDc;
    std::complex<double> secondDc;
  };
  const Case cases[] = {{"cu8-dc", {0.35, -0.2}, {0.3, 0.25}},
                        {"cu8-dc-real", {0.4, 0.0}, {0.4, 0.0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulatedPairConfig config = single({Waveform::Psk, 30.0e-6, 2100.0, 0.0, 125.0e3}, 15.0);
    config.firstDc = c.firstDc;
    config.secondDc = c.secondDc;
    const Recordings files = write(c.name, generateModulatedPair(config), SampleFormat::Cu8);
    const json document = runJson(files, {"-t", "12"});
    ASSERT_GE(countClass(document, "dc"), 1) << document["results"].dump(1);
    for (const json& result : document["results"]) {
      if (result["class"] == "dc") {
        EXPECT_LT(std::fabs(result["frequency_offset_hz"].get<double>()), 5.0);
      }
    }
    EXPECT_EQ(document["results"][0]["class"], "emitter");
    EXPECT_NEAR(document["results"][0]["frequency_offset_hz"].get<double>(), 2100.0, 2.0);
    const json centred = runJson(files, {"-t", "12", "--remove-dc"});
    EXPECT_EQ(countClass(centred, "dc"), 0) << centred["results"].dump(1);
    EXPECT_EQ(centred["results"][0]["class"], "emitter");
  }
}

// Offsets beyond the default band: the best result lands on the true image (or says it cannot
// tell), and with a band that holds them it is right without any move.
TEST_F(ResultClasses, OffsetsBeyondTheBandAreNotReportedAsAliases) {
  struct Case {
    double offset;
    const char* span;  // nullptr: the default band
  };
  const Case cases[] = {{9000.0, nullptr},   {12000.0, nullptr}, {30000.0, nullptr},
                        {-12000.0, nullptr}, {9000.0, "65536"},  {12000.0, "65536"},
                        {30000.0, "65536"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + (c.span ? " span " + std::string(c.span) : ""));
    PairConfig config;
    config.emitters = {Emitter{37.25e-6, c.offset, 0.0}};
    const Recordings files =
        write("alias" + std::to_string(static_cast<int>(c.offset)) + (c.span ? "w" : ""),
              generatePair(config));
    std::vector<std::string> extra{"-t", "15"};
    if (c.span) extra.insert(extra.end(), {"--frequency-span", c.span});
    const ProcessResult text = run(files, extra);
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<SearchResult> results = testing::parseResults(text.out);
    ASSERT_FALSE(results.empty());
    const json best = runJson(files, extra)["results"][0];
    if (!best["alias_ambiguous"].get<bool>()) {
      EXPECT_NEAR(results[0].frequencyOffset, c.offset, 1.0);
      EXPECT_NEAR(results[0].delay * 1e6, 37.25, 0.05);
    }
    EXPECT_EQ(best.contains("alias_moved_from_hz"), c.span == nullptr);
  }
}

// In-band results keep their values: the check confirms the coarse band's image.
TEST_F(ResultClasses, InBandOffsetsStayWhereTheyAre) {
  for (const double offset : {0.0, 5000.0, -8100.0, 8100.0}) {
    SCOPED_TRACE(offset);
    PairConfig config;
    config.emitters = {Emitter{-12.5e-6, offset, 0.0}};
    const json best =
        runJson(write("inband" + std::to_string(static_cast<int>(offset)), generatePair(config)),
                {"-t", "15"})["results"][0];
    EXPECT_FALSE(best.contains("alias_moved_from_hz"));
    EXPECT_FALSE(best["alias_ambiguous"].get<bool>());
    EXPECT_NEAR(best["frequency_offset_hz"].get<double>(), offset, 1.0);
  }
}

// A window that ends short of the true delay: the best result sits on its edge, and says so.
TEST_F(ResultClasses, WindowEdgesAreFlaggedAndWarned) {
  struct Case {
    const char* centre;
    const char* limit;
  };
  PairConfig config;
  config.emitters = {Emitter{150.0e-6, 800.0, 0.0}};
  config.bandwidth = 0.05e6;  // a wide main lobe: the window's edge meets its slope
  const Recordings files = write("edge", generatePair(config));
  for (const Case& c : {Case{"0", "last"}, Case{"300", "first"}}) {
    SCOPED_TRACE(c.centre);
    const ProcessResult text = run(files, {"-t", "10"}, "1000000", c.centre, "200");
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.err.find(std::string("warning: the best result lies on the ") + c.limit +
                            " lag of the delay window"),
              std::string::npos)
        << text.err;
    const json best = runJson(files, {"-t", "10"}, "1000000", c.centre, "200")["results"][0];
    EXPECT_TRUE(best["at_delay_edge"].get<bool>());
  }
  const ProcessResult inside = run(files, {"-t", "10"}, "1000000", "150", "200");
  EXPECT_EQ(inside.err, "");
}

// The plot draws each class in its colour, the surface round the best result, and labels that
// keep clear of each other.
TEST_F(ResultClasses, PlotDrawsClassesAndLabelsApart) {
  ModulatedPairConfig config;
  config.emitters = {{Waveform::Psk, 40.25e-6, 1500.0, 0.0, 125.0e3},
                     {Waveform::Ofdm, -70.5e-6, -2600.0, -8.0, 0.0}};
  config.snrDb = 15.0;
  config.firstDc = {0.2, -0.1};
  config.secondDc = {0.15, 0.15};
  const Recordings files = write("plot", generateModulatedPair(config), SampleFormat::Cu8);
  const std::string svgPath = scratch_->path("classes.svg").string();
  ASSERT_EQ(run(files, {"-t", "11", "--plot", svgPath}).status, 0);
  std::ifstream in(svgPath);
  std::stringstream content;
  content << in.rdbuf();
  const std::string svg = content.str();
  for (const char* part : {"coarse surface round #1", " emitter", "sidelobe of #1", " dc", ">path<",
                           "fill=\"#d62728\"", "fill=\"#ff7f0e\"", "fill=\"#9467bd\""}) {
    EXPECT_NE(svg.find(part), std::string::npos) << part;
  }
  // The result labels: 11-pixel text starting "#", each box from its position and width.
  const std::string opening = "<text x=\"";
  const std::string style =
      "font-family=\"sans-serif\" font-size=\"11\" text-anchor=\"start\" fill=\"";
  std::vector<LabelBox> boxes;
  for (std::size_t at = svg.find(opening); at != std::string::npos;
       at = svg.find(opening, at + 1)) {
    const std::size_t end = svg.find('>', at);
    const std::string tag = svg.substr(at, end - at);
    if (tag.find(style) == std::string::npos || svg.compare(end + 1, 1, "#") != 0) continue;
    const double x = std::stod(tag.substr(opening.size()));
    const double baseline = std::stod(tag.substr(tag.find("y=\"") + 3));
    const std::string text = svg.substr(end + 1, svg.find('<', end) - end - 1);
    boxes.push_back({x, baseline - 11.0, labelWidth(text, 11.0), 13.0});
  }
  EXPECT_GE(boxes.size(), 5u);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(overlaps(boxes[i], boxes[j])) << i << " " << j;
  }
}

// Bursts (577 of every 5000 samples) make a comb of teeth 216.67 Hz apart: the best result is the
// true tooth, or it is flagged ambiguous with the runner-up beside it.
TEST_F(ResultClasses, BurstCombGivesTheTrueToothOrAmbiguous) {
  const double rate = 1083333.0;
  for (const std::uint64_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    ModulatedPairConfig config;
    config.sampleRate = rate;
    config.snrDb = 10.0;
    config.seed = seed;
    config.emitters = {{Waveform::Gmsk, 55.0e-6, 1875.0, 0.0, 270833.0, 0.35, 64, 16, 577, 5000}};
    const Recordings files = write("burst" + std::to_string(seed), generateModulatedPair(config));
    const json best = runJson(files, {"-t", "12"}, "1083333")["results"][0];
    const double offset = best["frequency_offset_hz"].get<double>();
    if (!best["ambiguous"].get<bool>()) {
      EXPECT_NEAR(offset, 1875.0, 20.0) << best.dump();
    } else {
      ASSERT_TRUE(best.contains("runner_up"));
      const double other = best["runner_up"]["frequency_offset_hz"].get<double>();
      EXPECT_TRUE(std::fabs(offset - 1875.0) < 20.0 || std::fabs(other - 1875.0) < 20.0);
    }
  }
}

// An echo as strong as the direct path cannot be told from it: the best is ambiguous, with the
// other path as its runner-up; a weak echo leaves the best clear.
TEST_F(ResultClasses, EchoOfTheBestsStrengthIsAmbiguous) {
  struct Case {
    const char* name;
    double echoPowerDb;
    bool ambiguous;
  };
  for (const Case& c : {Case{"echo-equal", 0.0, true}, Case{"echo-near", -0.5, true},
                        Case{"echo-weak", -10.0, false}}) {
    SCOPED_TRACE(c.name);
    ModulatedEmitter e{Waveform::Psk, 20.0e-6, 900.0, 0.0, 125.0e3};
    e.echoDelay = 35.0e-6;
    e.echoPowerDb = c.echoPowerDb;
    const json document =
        runJson(write(c.name, generateModulatedPair(single(e, 20.0))), {"-t", "12"});
    const json& best = document["results"][0];
    EXPECT_EQ(best["ambiguous"].get<bool>(), c.ambiguous) << document["results"].dump(1);
    if (c.ambiguous) {
      ASSERT_TRUE(best.contains("runner_up"));
      const double other = best["runner_up"]["delay_s"].get<double>() * 1e6;
      const double mine = best["delay_us"].get<double>();
      EXPECT_NEAR(std::fabs(other - mine), 35.0, 1.5);
      EXPECT_EQ(countClass(document, "path"), 0) << document["results"].dump(1);
    } else {
      EXPECT_EQ(countClass(document, "path"), 1) << document["results"].dump(1);
    }
  }
}

// A resolved echo is a path of the direct one: later when the second receiver saw it, earlier
// when the first did, its power and delay given against the direct path's. A weaker copy that
// reached its receiver first is the likelier direct path: the best is then ambiguous.
TEST_F(ResultClasses, ResolvedEchoesArePathsOfTheDirectPath) {
  struct Case {
    const char* name;
    Waveform waveform;
    double symbolRate;
    double secondEcho;  // microseconds after the direct path at the second receiver
    double firstEcho;   // ... at the first
    double pathDelay;   // microseconds, the path's delay less the direct's
    const char* receiver;
    bool ambiguous;
  };
  // At 125 kBd the direct path's delay sidelobes reach the echo (-16 dB at 12.4 us) and, left
  // in, read it at -8 dB and 14.4 us; an OFDM emission fills the band and its lobe is a lag wide.
  const Case cases[] = {
      {"path-second", Waveform::Psk, 250.0e3, 12.4, 0.0, 12.4, "second", false},
      {"path-first", Waveform::Psk, 250.0e3, 0.0, 12.4, -12.4, "first", false},
      {"path-arrived-first", Waveform::Psk, 250.0e3, -12.4, 0.0, -12.4, "second", true},
      {"path-sidelobes", Waveform::Psk, 125.0e3, 12.4, 0.0, 12.4, "second", false},
      {"path-ofdm", Waveform::Ofdm, 0.0, 12.4, 0.0, 12.4, "second", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulatedEmitter e{c.waveform, 20.0e-6, 900.0, 0.0, c.symbolRate};
    e.echoDelay = c.secondEcho * 1e-6;
    e.echoPowerDb = -6.0;
    e.firstEchoDelay = c.firstEcho * 1e-6;
    e.firstEchoPowerDb = -6.0;
    const Recordings files = write(c.name, generateModulatedPair(single(e, 20.0)));
    const json document = runJson(files, {"-t", "12"});
    const json& results = document["results"];
    ASSERT_EQ(countClass(document, "path"), 1) << results.dump(1);
    EXPECT_EQ(results[0]["class"], "emitter");
    EXPECT_EQ(results[0]["ambiguous"].get<bool>(), c.ambiguous) << results.dump(1);
    for (const json& result : results) {
      if (result["class"] != "path") {
        EXPECT_FALSE(result.contains("path_delay_s"));
        continue;
      }
      EXPECT_EQ(result["explained_by"], 0);
      EXPECT_NEAR(result["path_delay_s"].get<double>() * 1e6, c.pathDelay, 0.1);
      EXPECT_NEAR(result["delay_us"].get<double>(), 20.0 + c.pathDelay, 2.0);
      EXPECT_NEAR(result["path_relative_power_db"].get<double>(), -6.0, 0.75);
      EXPECT_EQ(result["path_receiver"], c.receiver);
      if (c.ambiguous) {
        EXPECT_NEAR(results[0]["runner_up"]["delay_s"].get<double>(),
                    result["delay_s"].get<double>(), 1e-12);
      }
    }
    if (c.secondEcho == 12.4 && c.symbolRate == 250.0e3) {
      // The default output still lists the echo as a result of its own.
      const ProcessResult text = run(files, {"-t", "12"});
      ASSERT_EQ(text.status, 0) << text.err;
      bool listed = false;
      for (const SearchResult& result : testing::parseResults(text.out)) {
        listed = listed || std::fabs(result.delay * 1e6 - 32.4) < 1.0;
      }
      EXPECT_TRUE(listed) << text.out;
      // --distinct keeps the emitters alone: the direct path, not its echo.
      const ProcessResult distinct = run(files, {"-t", "12", "--distinct"});
      ASSERT_EQ(distinct.status, 0) << distinct.err;
      const std::vector<SearchResult> kept = testing::parseResults(distinct.out);
      ASSERT_EQ(kept.size(), 1u) << distinct.out;
      EXPECT_NEAR(kept[0].delay * 1e6, 20.0, 0.1);
    }
  }
}

// Nothing but a resolved copy is a path: not a different emission at one frequency offset or at
// two, nor the sidelobes of a peak that merges an echo too close to resolve.
TEST_F(ResultClasses, OnlyResolvedCopiesArePaths) {
  struct Case {
    const char* name;
    std::vector<ModulatedEmitter> emitters;
    std::vector<double> emitterDelays;  // microseconds: results there are emitters
  };
  ModulatedEmitter merged{Waveform::Psk, 20.0e-6, 900.0, 0.0, 62.5e3};
  merged.echoDelay = 12.4e-6;
  merged.echoPowerDb = -6.0;
  const Case cases[] = {{"one-offset",
                         {{Waveform::Psk, 20.0e-6, 900.0, 0.0, 250.0e3},
                          {Waveform::Psk, 45.0e-6, 900.5, -6.0, 250.0e3}},
                         {20.0, 45.0}},
                        {"two-offsets",
                         {{Waveform::Psk, 20.0e-6, 900.0, 0.0, 250.0e3},
                          {Waveform::Psk, 45.0e-6, -2300.0, -6.0, 250.0e3}},
                         {20.0, 45.0}},
                        {"merged-echo", {merged}, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulatedPairConfig config;
    config.emitters = c.emitters;
    const json document = runJson(write(c.name, generateModulatedPair(config)), {"-t", "12"});
    EXPECT_EQ(countClass(document, "path"), 0) << document["results"].dump(1);
    EXPECT_FALSE(document["results"][0]["ambiguous"].get<bool>());
    std::size_t emitters = 0;
    for (const json& result : document["results"]) {
      for (const double delay : c.emitterDelays) {
        if (std::fabs(result["delay_us"].get<double>() - delay) < 1.0) {
          EXPECT_EQ(result["class"], "emitter") << result.dump();
          ++emitters;
        }
      }
    }
    EXPECT_EQ(emitters, c.emitterDelays.size()) << document["results"].dump(1);
  }
}

// A threshold that lets noise in: the noise peaks are classed noise; a false-alarm probability
// in its place keeps them out.
TEST_F(ResultClasses, NoisePeaksAreClassedNoise) {
  PairConfig config;
  config.emitters = {Emitter{20.0e-6, 400.0, -6.0}};
  const Recordings files = write("noise", generatePair(config));
  const json loose = runJson(files, {"-t", "9"});
  EXPECT_GE(countClass(loose, "noise"), 1) << loose["results"].dump(1);
  EXPECT_EQ(loose["results"][0]["class"], "emitter");
  for (const json& result : loose["results"]) {
    if (result["level_db"].get<double>() < loose["noise_level_db"].get<double>()) {
      EXPECT_EQ(result["class"], "noise");
    }
  }
  const json strict = runJson(files, {"--false-alarm", "0.001"});
  EXPECT_EQ(countClass(strict, "noise"), 0) << strict["results"].dump(1);
  EXPECT_GE(strict["results"].size(), 1u);
  EXPECT_GT(strict["peak_threshold_db"].get<double>(), 10.0);
}

// --map: a float32 .npy of lags x bins whose strongest cell is the best result's.
TEST_F(ResultClasses, MapHoldsTheWholeSurface) {
  PairConfig config;
  config.emitters = {Emitter{25.0e-6, 1000.0, 0.0}};
  const Recordings files = write("map", generatePair(config));
  const std::string mapPath = scratch_->path("surface.npy").string();
  const json document = runJson(files, {"-t", "15", "--map", mapPath});
  std::ifstream in(mapPath, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string file = bytes.str();
  ASSERT_GT(file.size(), 10u);
  ASSERT_EQ(file.substr(0, 6), std::string("\x93NUMPY"));
  const std::size_t headerLength =
      static_cast<unsigned char>(file[8]) | (static_cast<std::size_t>(file[9]) << 8);
  const std::string header = file.substr(10, headerLength);
  EXPECT_EQ((10 + headerLength) % 64, 0u);
  const int lags = document["lag_window"]["lag_count"].get<int>();
  const int bins = document["fft_length"].get<int>();
  EXPECT_NE(header.find("'descr': '<f4'"), std::string::npos);
  std::ostringstream shape;
  shape << "(" << lags << ", " << bins << ")";
  EXPECT_NE(header.find(shape.str()), std::string::npos);
  ASSERT_EQ(file.size(), 10 + headerLength + static_cast<std::size_t>(lags) * bins * 4);
  std::vector<float> levels(static_cast<std::size_t>(lags) * bins);
  std::memcpy(levels.data(), file.data() + 10 + headerLength, levels.size() * 4);
  std::size_t strongest = 0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (levels[i] > levels[strongest]) strongest = i;
  }
  const json& best = document["results"][0];
  EXPECT_EQ(static_cast<int>(strongest / bins), best["lag_index"].get<int>());
  const double binHz = document["decimated_rate_hz"].get<double>() / bins;
  const double column = static_cast<double>(strongest % bins) - bins / 2 + 1;
  EXPECT_NEAR(column * binHz, 1000.0, 1.5 * binHz);
  EXPECT_NEAR(levels[strongest], best["level_db"].get<double>(), 0.01);
}

// The new options' bad values: one line on standard error and status 2, nothing on output.
TEST_F(ResultClasses, BadValuesOfTheNewOptionsAreRefused) {
  PairConfig config;
  config.sampleCount = 8192;
  const Recordings files = write("small", generatePair(config));
  const std::vector<std::string> cases[] = {
      {"-t", "15", "--frequency-span", "0"},
      {"-t", "15", "--frequency-span", "abc"},
      {"-t", "15", "--frequency-span", "inf"},
      {"-t", "15", "--min-abs-delay", "-1"},
      {"-t", "15", "--min-abs-offset", "x"},
      {"--false-alarm", "0"},
      {"--false-alarm", "1"},
      {"--false-alarm", "0.1", "-t", "15"},
      {"-t", "15", "--map"},
      {"-t", "15", "--map", ""},
  };
  for (const std::vector<std::string>& extra : cases) {
    const ProcessResult result = run(files, extra, "1000000", "0", "50", "8192");
    EXPECT_EQ(result.status, 2) << extra[2];
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("kestrav: ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
}

// The gates the library already had: a result nearer zero than either minimum is dropped.
TEST_F(ResultClasses, MinimumGatesDropResults) {
  PairConfig config;
  config.emitters = {Emitter{40.0e-6, 1500.0, 0.0}, Emitter{-5.0e-6, 200.0, -3.0}};
  const Recordings files = write("gates", generatePair(config));
  struct Case {
    std::vector<std::string> extra;
    bool nearKept;
  };
  for (const Case& c :
       {Case{{}, true}, Case{{"--min-abs-delay", "10"}, false},
        Case{{"--min-abs-offset", "500"}, false}, Case{{"--min-abs-delay", "5"}, true}}) {
    std::vector<std::string> extra{"-t", "15"};
    extra.insert(extra.end(), c.extra.begin(), c.extra.end());
    const ProcessResult text = run(files, extra);
    ASSERT_EQ(text.status, 0) << text.err;
    bool near = false;
    bool far = false;
    for (const SearchResult& result : testing::parseResults(text.out)) {
      near = near || std::fabs(result.delay - -5.0e-6) < 1e-6;
      far = far || std::fabs(result.delay - 40.0e-6) < 1e-6;
    }
    EXPECT_TRUE(far);
    EXPECT_EQ(near, c.nearKept) << text.out;
  }
}

}  // namespace
}  // namespace kestrav
