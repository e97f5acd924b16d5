// One generated pair in every form a recording comes in, through the program and the C entry:
// each gives the results of the plain pair or status 2 with its reason, never a confident wrong
// answer. And the files the program writes land where the user pointed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/kestrav.h"
#include "support/search_output.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

using testing::ProcessResult;
using Strings = std::vector<std::string>;

std::string readAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class InputFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testing::ScratchDirectory;
    for (const char* format : {"ci16", "cf32", "ci8", "cu8"}) {
      const ProcessResult written =
          testing::runProgram(KESTRAV_SYNTH, {"--first=" + path(std::string("a_") + format),
                                              "--second=" + path(std::string("b_") + format),
                                              "--format=" + std::string(format), "--samples=65536",
                                              "--delay-us=12.5", "--offset-hz=-321.5", "--seed=3"});
      ASSERT_EQ(written.status, 0) << written.err;
    }
  }
  static void TearDownTestSuite() { delete scratch_; }
  static std::string path(const std::string& name) { return scratch_->path(name).string(); }

  // The search every case runs; -f only when given.
  static ProcessResult search(const std::string& first, const std::string& second,
                              const Strings& extra = {"-f", "1000000"}) {
    Strings args{"-m",  first, "-a", second, "-c", "0",      "-r",
                 "100", "-j",  "0",  "-t",   "10", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (std::find(extra.begin(), extra.end(), "-s") == extra.end()) {
      args.insert(args.end(), {"-s", "60000"});
    }
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }
  // The plain pair's result text in the format.
  static std::string expected(const std::string& format) {
    const ProcessResult plain =
        search(path("a_" + format), path("b_" + format), {"-f", "1000000", "--format=" + format});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out, "");
    return plain.out;
  }
  // Copies both recordings of the format's pair to NAME-a, NAME-b with `wrap` applied.
  template <class Wrap>
  static void convert(const std::string& format, const std::string& name, Wrap wrap) {
    for (const char* side : {"a", "b"}) {
      wrap(readAll(path(std::string(side) + "_" + format)), path(name + "-" + side));
    }
  }

  static testing::ScratchDirectory* scratch_;
};
testing::ScratchDirectory* InputFiles::scratch_ = nullptr;

void writeWav(const std::string& samples, const std::string& path, int format, int rate = 1000000) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
    std::vector<float> values(samples.size() / 4);
    std::memcpy(values.data(), samples.data(), values.size() * 4);
    sf_writef_float(file, values.data(), static_cast<sf_count_t>(values.size() / 2));
  } else {
    std::vector<short> values(samples.size() / 2);
    std::memcpy(values.data(), samples.data(), values.size() * 2);
    sf_writef_short(file, values.data(), static_cast<sf_count_t>(values.size() / 2));
  }
  sf_close(file);
}

// Each sample type by each of its names, without --format: the same text as with it.
TEST_F(InputFiles, EveryExtensionGivesItsSampleType) {
  const struct {
    const char* format;
    Strings extensions;
  } cases[] = {
      {"cf32", {".cf32", ".fc32", ".cfile"}},
      {"ci16", {".cs16", ".ci16", ".sc16", ".iq", ".dat"}},
      {"ci8", {".cs8", ".ci8", ".sc8"}},
      {"cu8", {".cu8"}},
  };
  for (const auto& c : cases) {
    const std::string want = expected(c.format);
    for (const std::string& extension : c.extensions) {
      for (const char* side : {"a", "b"}) {
        std::filesystem::copy_file(path(std::string(side) + "_" + c.format),
                                   path(std::string("named-") + side + extension),
                                   std::filesystem::copy_options::overwrite_existing);
      }
      const ProcessResult run = search(path("named-a" + extension), path("named-b" + extension));
      EXPECT_EQ(run.status, 0) << extension << ": " << run.err;
      EXPECT_EQ(run.out, want) << extension;
      EXPECT_EQ(run.err, "") << extension;
    }
  }
  // An explicit --format wins, said on standard error when it contradicts the name.
  const ProcessResult forced =
      search(path("named-a.cu8"), path("named-b.cu8"), {"-f", "1e6", "--format=ci8"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(forced.err, "kestrav: warning: --format ci8 contradicts the first recording's name '" +
                            path("named-a.cu8") +
                            "', which says cu8; it is read as ci8\n"
                            "kestrav: warning: --format ci8 contradicts the second recording's "
                            "name '" +
                            path("named-b.cu8") + "', which says cu8; it is read as ci8\n");
}

// WAV I/Q in every width and container: the plain pair's results, the rate from the header.
TEST_F(InputFiles, WavPairsGiveThePlainResults) {
  const struct {
    const char* format;
    const char* name;
    int sndfileFormat;
  } cases[] = {
      {"ci16", "pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"cf32", "float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"ci16", "pcm16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
      {"cf32", "float.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
  };
  for (const auto& c : cases) {
    convert(c.format, c.name, [&](const std::string& bytes, const std::string& to) {
      writeWav(bytes, to + ".wav", c.sndfileFormat);
    });
    const std::string want = expected(c.format);
    for (const Strings& rate : {Strings{}, Strings{"-f", "1000000"}}) {
      const ProcessResult run =
          search(path(std::string(c.name) + "-a.wav"), path(std::string(c.name) + "-b.wav"), rate);
      EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
      EXPECT_EQ(run.out, want) << c.name;
    }
  }
  // 8-bit WAV holds offset binary, as cu8 does: the cu8 pair's values exactly.
  convert("cu8", "u8", [&](const std::string& bytes, const std::string& to) {
    std::string shorts;
    for (const char byte : bytes) {
      const auto value = static_cast<short>((static_cast<unsigned char>(byte) - 128) * 256);
      shorts.append(reinterpret_cast<const char*>(&value), 2);
    }
    writeWav(shorts, to + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  });
  EXPECT_EQ(search(path("u8-a.wav"), path("u8-b.wav"), {}).out, expected("cu8"));

  const ProcessResult wrongRate =
      search(path("pcm16.wav-a.wav"), path("pcm16.wav-b.wav"), {"-f", "2e6"});
  EXPECT_EQ(wrongRate.status, 2);
  EXPECT_EQ(wrongRate.err,
            "kestrav: -f/--ff '2e6' disagrees with the sample rate 1000000 Hz of "
            "the first recording's WAV header\n");
  // Renamed, a WAV file is not read as samples.
  std::filesystem::copy_file(path("pcm16.wav-a.wav"), path("wav-in-disguise.iq"));
  const ProcessResult disguised = search(path("wav-in-disguise.iq"), path("b_ci16"));
  EXPECT_EQ(disguised.status, 2);
  EXPECT_EQ(disguised.out, "");
  EXPECT_EQ(disguised.err, "kestrav: the first recording '" + path("wav-in-disguise.iq") +
                               "' looks like a WAV file (RIFF), not bare samples; give it its "
                               "container's name (.wav, .sigmf, .sigmf-meta) or convert it\n");
}

// SigMF recordings that shift, interleave or wrap the samples give the plain pair's results.
TEST_F(InputFiles, SigmfFormsGiveThePlainResults) {
  const std::string want = expected("ci16");
  const auto sigmf = [&](const std::string& name, const std::string& global,
                         const std::string& captures, auto data) {
    convert("ci16", name, [&](const std::string& bytes, const std::string& to) {
      testing::writeBytes(to + ".sigmf-meta",
                          R"({"global": {"core:datatype": "ci16_le", "core:version": "1.0.0")" +
                              global + R"(}, "captures": [)" + captures + "]}");
      testing::writeBytes(to + ".sigmf-data", data(bytes));
    });
  };
  const auto same = [](const std::string& bytes) { return bytes; };
  sigmf("rated", R"(, "core:sample_rate": 1e6)", R"({"core:sample_start": 0})", same);
  sigmf("header", R"(, "core:sample_rate": 1e6)",
        R"({"core:sample_start": 0, "core:header_bytes": 8})",
        [](const std::string& bytes) { return std::string(8, '\x7f') + bytes; });
  sigmf("unrated", "", "", same);
  sigmf("stereo", R"(, "core:sample_rate": 1e6, "core:num_channels": 2)", "",
        [](const std::string& bytes) {
          std::string frames;
          for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            frames += std::string("\x11\x22\x33\x44", 4) + bytes.substr(i, 4);
          }
          return frames;
        });
  for (const char* side : {"a", "b"}) {
    const testing::ProcessResult made =
        testing::runProgram("/usr/bin/tar", {"-C", scratch_->path("").string(), "-cf",
                                             path(std::string("archived-") + side + ".sigmf"),
                                             std::string("rated-") + side + ".sigmf-meta",
                                             std::string("rated-") + side + ".sigmf-data"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  const struct {
    std::string first, second;
    Strings extra;
  } cases[] = {
      {"rated-a.sigmf-meta", "rated-b.sigmf-data", {}},
      {"rated-a", "rated-b", {}},  // base names
      {"header-a.sigmf-meta", "header-b.sigmf-meta", {}},
      {"unrated-a.sigmf-meta", "unrated-b", {"-f", "1000000"}},
      {"stereo-a", "stereo-b", {"--channel", "1"}},
      {"archived-a.sigmf", "archived-b.sigmf", {}},
      {"archived-a", "b_ci16", {"-f", "1e6"}},
      {"pcm16.wav-a.wav", "rated-b", {}},
  };
  for (const auto& c : cases) {
    if (c.first.ends_with(".wav")) {
      convert("ci16", "pcm16.wav", [&](const std::string& bytes, const std::string& to) {
        writeWav(bytes, to + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
      });
    }
    const ProcessResult run = search(path(c.first), path(c.second), c.extra);
    EXPECT_EQ(run.status, 0) << c.first << ": " << run.err;
    EXPECT_EQ(run.out, want) << c.first;
    EXPECT_EQ(run.err, "") << c.first;
  }
  const struct {
    std::string first;
    Strings extra;
    std::string message;
  } refusals[] = {
      {"stereo-a",
       {},
       "the first recording's metadata '" + path("stereo-a.sigmf-meta") +
           "' gives 2 interleaved channels (core:num_channels); pick one with --channel K, K from "
           "0 to 1"},
      {"unrated-a",
       {},
       "missing option -f/--ff (the sample rate in Hz): neither recording gives its own"},
      {"stereo-a", {"--channel", "x"}, "--channel 'x' is not a channel number (0, 1, ...)"},
      {"archived-a.sigmf",
       {"--format=cf32"},
       "--format cf32 disagrees with the first recording's metadata, which gives ci16"},
  };
  for (const auto& c : refusals) {
    const ProcessResult run = search(path(c.first), path("b_ci16"), c.extra);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kestrav: " + c.message + "\n");
  }
}

TEST_F(InputFiles, NonFiniteSamplesStopTheSearch) {
  for (const auto& [index, value] : {std::pair{0, "nan"}, {30000, "inf"}, {59999, "-inf"}}) {
    std::string bytes = readAll(path("a_cf32"));
    const float bad = std::stof(value);
    std::memcpy(bytes.data() + static_cast<std::size_t>(index + 50) * 8 + 4, &bad, 4);
    testing::writeBytes(path("bad.cf32"), bytes);
    // The first segment starts 50 samples in (half the 100 lags).
    const ProcessResult run = search(path("bad.cf32"), path("b_cf32"), {"-f", "1e6", "--json"});
    EXPECT_EQ(run.status, 2) << value;
    EXPECT_EQ(run.out, "") << value;
    EXPECT_EQ(run.err, "kestrav: the first recording '" + path("bad.cf32") +
                           "' holds a sample that is not a finite number (NaN or infinity) at "
                           "sample " +
                           std::to_string(index + 50) + "\n");
  }
}

// Frequency and datetime echoed; the absolute and tuning-corrected values beside the measured.
TEST_F(InputFiles, JsonEchoesTuningAndTime) {
  const auto write = [&](const std::string& name, const std::string& captures) {
    testing::writeBytes(path(name + ".sigmf-meta"),
                        R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 1e6},
                            "captures": [)" +
                            captures + "]}");
    std::filesystem::copy_file(path(name.back() == 'a' ? "a_ci16" : "b_ci16"),
                               path(name + ".sigmf-data"),
                               std::filesystem::copy_options::overwrite_existing);
  };
  write("tuned-a", R"({"core:sample_start": 0, "core:frequency": 915e6,
                       "core:datetime": "2024-05-01T12:00:00.000000100Z"})");
  write("tuned-b", R"({"core:sample_start": 0, "core:frequency": 915.0005e6,
                       "core:datetime": "2024-05-01T12:00:01.5Z"})");
  write("bare-a", R"({"core:sample_start": 0})");
  // Retuned and timed at sample 10, before the segment's first sample (50): the tuning of the
  // capture the segment lies in, and a start time 10 samples before the capture's.
  write("late-a", R"({"core:sample_start": 0, "core:frequency": 1e8},
                      {"core:sample_start": 10, "core:frequency": 915e6,
                       "core:datetime": "2024-05-01T12:00:00.00001Z"})");
  const struct {
    const char* first;
    const char* second;
    nlohmann::json recordings;
    bool timed, retuned;
  } cases[] = {
      {"tuned-a",
       "tuned-b",
       {{"first", {{"frequency_hz", 915e6}, {"datetime", "2024-05-01T12:00:00.000000100Z"}}},
        {"second", {{"frequency_hz", 915.0005e6}, {"datetime", "2024-05-01T12:00:01.5Z"}}},
        {"start_time_difference_s", 1.4999999},
        {"tuning_difference_hz", 500.0}},
       true,
       true},
      {"late-a",
       "tuned-b",
       {{"first", {{"frequency_hz", 915e6}, {"datetime", "2024-05-01T12:00:00.00001Z"}}},
        {"second", {{"frequency_hz", 915.0005e6}, {"datetime", "2024-05-01T12:00:01.5Z"}}},
        {"start_time_difference_s", 1.5},
        {"tuning_difference_hz", 500.0}},
       true,
       true},
      {"bare-a",
       "tuned-b",
       {{"first", {{"frequency_hz", nullptr}, {"datetime", nullptr}}},
        {"second", {{"frequency_hz", 915.0005e6}, {"datetime", "2024-05-01T12:00:01.5Z"}}}},
       false,
       false},
  };
  const ProcessResult plain = search(path("a_ci16"), path("b_ci16"), {"-f", "1e6", "--json"});
  const nlohmann::json measured = nlohmann::json::parse(plain.out);
  EXPECT_FALSE(measured.contains("recordings"));
  for (const auto& c : cases) {
    const ProcessResult run = search(path(c.first), path(c.second), {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    nlohmann::json document = nlohmann::json::parse(run.out);
    for (const char* key : {"start_time_difference_s", "tuning_difference_hz"}) {
      if (c.recordings.contains(key)) {
        EXPECT_NEAR(document["recordings"][key].get<double>(), c.recordings[key].get<double>(),
                    1e-9);
        document["recordings"][key] = c.recordings[key];
      }
    }
    EXPECT_EQ(document["recordings"], c.recordings);
    ASSERT_EQ(document["results"].size(), measured["results"].size());
    for (std::size_t r = 0; r < measured["results"].size(); ++r) {
      nlohmann::json result = document["results"][r];
      const double delay = result["delay_s"], offset = result["frequency_offset_hz"];
      EXPECT_EQ(result.contains("absolute_arrival_difference_s"), c.timed);
      EXPECT_EQ(result.contains("tuning_corrected_frequency_offset_hz"), c.retuned);
      if (c.timed) {
        EXPECT_NEAR(result["absolute_arrival_difference_s"].get<double>(),
                    delay + c.recordings["start_time_difference_s"].get<double>(), 1e-12);
      }
      if (c.retuned) {
        EXPECT_NEAR(result["tuning_corrected_frequency_offset_hz"].get<double>(), offset + 500.0,
                    1e-9);
      }
      // The measured values stay as they are.
      result.erase("absolute_arrival_difference_s");
      result.erase("tuning_corrected_frequency_offset_hz");
      EXPECT_EQ(result, measured["results"][r]);
    }
  }
}

TEST_F(InputFiles, RetuneInsideTheSegmentIsWarned) {
  const std::string meta = R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 1e6},
      "captures": [{"core:sample_start": 0, "core:frequency": 1e8},
                   {"core:sample_start": 40000, "core:frequency": 1.001e8}]})";
  testing::writeBytes(path("retuned.sigmf-meta"), meta);
  std::filesystem::copy_file(path("a_ci16"), path("retuned.sigmf-data"),
                             std::filesystem::copy_options::overwrite_existing);
  const ProcessResult run = search(path("retuned"), path("b_ci16"), {"-f", "1e6"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "kestrav: warning: the first recording's searched samples 50 to 60049 cross "
            "the start of its capture 1 at sample 40000 (a retune or a gap?); the "
            "results may mix the two\n");
  // A segment that ends before the retune is not warned about.
  const ProcessResult before =
      search(path("retuned"), path("b_ci16"), {"-f", "1e6", "-s", "30000"});
  EXPECT_EQ(before.err, "");
}

// --surface and --plot write where the path points, and replace only regular files.
TEST_F(InputFiles, OutputTargets) {
  const std::string directory = path("outputs");
  std::filesystem::create_directories(directory + "/elsewhere");
  const auto surface = [&](const std::string& target) {
    return search(path("a_ci16"), path("b_ci16"), {"-f", "1e6", "--surface", target, "-s", "6000"});
  };
  const ProcessResult reference = surface(directory + "/reference.csv");
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string csv = readAll(directory + "/reference.csv");
  ASSERT_NE(csv, "");

  const struct {
    const char* what;
    std::string link;    // created as a symbolic link to `target` when not empty
    std::string target;  // relative to the link's directory when relative
    bool targetExists;
  } links[] = {
      {"a link to a file", directory + "/link.csv", "elsewhere/old.csv", true},
      {"a link to nothing yet", directory + "/dangling.csv", "elsewhere/new.csv", false},
      {"an absolute link", directory + "/absolute.csv", directory + "/elsewhere/abs.csv", true},
      {"a link to a link", directory + "/chain.csv", "link.csv", true},
  };
  for (const auto& c : links) {
    const std::string resolved = c.target.front() == '/' ? c.target : directory + "/" + c.target;
    if (c.targetExists && !std::filesystem::is_symlink(resolved)) {
      testing::writeBytes(resolved, "old");
    }
    std::filesystem::create_symlink(c.target, c.link);
    const ProcessResult run = surface(c.link);
    EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(c.link)) << c.what;
    EXPECT_EQ(readAll(c.link), csv) << c.what;
  }
  EXPECT_EQ(readAll(directory + "/elsewhere/old.csv"), csv);

  // A FIFO is written into, not replaced.
  const std::string fifo = directory + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = readAll(fifo); });
  const ProcessResult piped = surface(fifo);
  reader.join();
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(received, csv);
  struct stat status {};
  ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));

  // A device is written into: /dev/null stays the device.
  const ProcessResult discarded = surface("/dev/null");
  EXPECT_EQ(discarded.status, 0) << discarded.err;
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));

  // Anything else is left alone.
  const ProcessResult intoDirectory = surface(directory + "/elsewhere");
  EXPECT_EQ(intoDirectory.status, 2);
  EXPECT_EQ(intoDirectory.err, "kestrav: cannot write the lag surface to '" + directory +
                                   "/elsewhere': Is a directory\n");
  EXPECT_TRUE(std::filesystem::is_directory(directory + "/elsewhere"));
}

// The C entries read through the same loader, with the same rules.
TEST_F(InputFiles, CEntriesReadAsTheProgramDoes) {
  void* library = ::dlopen(KESTRAV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  const auto kestrav = reinterpret_cast<decltype(&::Kestrav)>(::dlsym(library, "Kestrav"));
  const auto read =
      reinterpret_cast<decltype(&::KestravReadRecording)>(::dlsym(library, "KestravReadRecording"));
  ASSERT_NE(kestrav, nullptr);
  ASSERT_NE(read, nullptr);

  for (const char* side : {"a", "b"}) {
    std::filesystem::copy_file(path(std::string(side) + "_cf32"),
                               path(std::string("c-") + side + ".cfile"),
                               std::filesystem::copy_options::overwrite_existing);
  }
  convert("ci16", "c16", [&](const std::string& bytes, const std::string& to) {
    writeWav(bytes, to + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  });
  const struct {
    std::string first, second, format;
    double rate;
    bool ok;
  } cases[] = {
      {"c-a.cfile", "c-b.cfile", "cf32", 1e6, true},
      {"c16-a.wav", "c16-b.wav", "ci16", 1e6, true},
      {"c16-a.wav", "c16-b.wav", "ci16", 2e6, false},  // the header says 1 MHz
      {"wav-in-disguise-c.iq", "b_ci16", "ci16", 1e6, false},
  };
  std::filesystem::copy_file(path("c16-a.wav"), path("wav-in-disguise-c.iq"),
                             std::filesystem::copy_options::overwrite_existing);
  for (const auto& c : cases) {
    SearchResult results[MaxResults];
    int count = -1;
    const bool ok = kestrav(results, &count, path(c.first).c_str(), path(c.second).c_str(), 60000,
                            c.rate, 0.0, 100e-6, 16384.0, 0.0, 0.0, 10.0, true);
    ASSERT_EQ(ok, c.ok) << c.first;
    if (!ok) continue;
    const std::vector<SearchResult> want = testing::parseResults(expected(c.format));
    ASSERT_EQ(count, static_cast<int>(want.size())) << c.first;
    EXPECT_NEAR(results[0].delay, want[0].delay, 5e-10) << c.first;
    EXPECT_NEAR(results[0].frequencyOffset, want[0].frequencyOffset, 5e-4) << c.first;
  }

  // KestravReadRecording: the type, size and rate, then the samples themselves.
  int type = -1;
  long long total = -1;
  double rate = -1;
  char message[256];
  ASSERT_EQ(read(path("c16-a.wav").c_str(), nullptr, -1, 0, 0, nullptr, &type, &total, &rate,
                 message, sizeof message),
            KestravOk)
      << message;
  EXPECT_EQ(type, KestravInt16);
  EXPECT_EQ(total, 65536);
  EXPECT_EQ(rate, 1e6);
  std::vector<short> got(20);
  ASSERT_EQ(read(path("c16-a.wav").c_str(), "", -1, 100, 10, got.data(), nullptr, nullptr, nullptr,
                 message, sizeof message),
            KestravOk);
  const std::string raw = readAll(path("a_ci16"));
  EXPECT_EQ(std::memcmp(got.data(), raw.data() + 400, 40), 0);
  ASSERT_EQ(read(path("c-a.cfile").c_str(), nullptr, -1, 0, 0, nullptr, &type, &total, &rate,
                 message, sizeof message),
            KestravOk);
  EXPECT_EQ(type, KestravFloat32);
  EXPECT_EQ(rate, 0.0);
  const struct {
    std::string path;
    const char* format;
    long long start, count;
    std::string message;
  } refusals[] = {
      {path("c-a.cfile"), "cf64", 0, 0, "the format 'cf64' is not one of ci16, cf32, ci8, cu8"},
      {path("c-a.cfile"), nullptr, 65530, 10,
       "samples 65530 to 65540 are not within the recording's 65536 (or the buffer is null)"},
      {path("wav-in-disguise-c.iq"), nullptr, 0, 0,
       "the given recording '" + path("wav-in-disguise-c.iq") +
           "' looks like a WAV file (RIFF), not bare samples; give it its container's name (.wav, "
           ".sigmf, .sigmf-meta) or convert it"},
  };
  for (const auto& c : refusals) {
    std::vector<float> buffer(2 * static_cast<std::size_t>(c.count) + 2);
    EXPECT_EQ(
        read(c.path.c_str(), c.format, -1, c.start, c.count, c.count > 0 ? buffer.data() : nullptr,
             nullptr, nullptr, nullptr, message, sizeof message),
        KestravInputError);
    EXPECT_EQ(std::string(message), c.message);
  }
  ::dlclose(library);
}

}  // namespace
}  // namespace kestrav
