// Every kind of recording through the loader: the samples it gives are checked one by one
// (indexed samples show where each was read from), and each refusal names its reason.
#include "engine/recording.hpp"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/container_sniff.hpp"
#include "platform/host/errors.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

using Strings = std::vector<std::string>;

std::string bytesOf(const std::vector<short2>& samples) {
  return std::string(reinterpret_cast<const char*>(samples.data()),
                     samples.size() * sizeof(short2));
}

// Channel c of sample i: (1000 c + i, -(1000 c + i)), interleaved.
std::string interleaved(int channels, int count) {
  std::vector<short2> samples;
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < channels; ++c) {
      const auto value = static_cast<short>(1000 * c + i);
      samples.push_back(short2{value, static_cast<short>(-value)});
    }
  }
  return bytesOf(samples);
}

class RecordingTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.path(name).string(); }

  // Reads `count` samples from `start` as int16 pairs through the loader.
  std::vector<short2> readInt16(const std::string& name, long long start, std::size_t count,
                                RecordingRequest request = {}) {
    const Recording recording = describeRecording(path(name), request, "first");
    std::vector<short2> samples(count);
    openRecording(recording, "first")->read(start, count, samples.data());
    return samples;
  }
  std::string refusal(const std::string& name, RecordingRequest request = {}) {
    try {
      const Recording recording = describeRecording(path(name), request, "first");
      std::vector<float2> samples(static_cast<std::size_t>(recording.samples));
      openRecording(recording, "first")->read(0, samples.size(), samples.data());
    } catch (const InputError& error) {
      return error.what();
    }
    return "";
  }
  void writeSigmf(const std::string& name, const std::string& global, const std::string& captures,
                  const std::string& data) {
    testing::writeBytes(path(name + ".sigmf-meta"),
                        R"({"global": {"core:datatype": "ci16_le", "core:version": "1.0.0")" +
                            global + R"(}, "captures": [)" + captures + R"(], "annotations": []})");
    testing::writeBytes(path(name + ".sigmf-data"), data);
  }
  void tar(const std::string& archive, const Strings& members, const std::string& format) {
    Strings args{"-C", scratch_.path("").string(), "--format=" + format, "-cf", path(archive)};
    args.insert(args.end(), members.begin(), members.end());
    const testing::ProcessResult made = testing::runProgram("/usr/bin/tar", args);
    ASSERT_EQ(made.status, 0) << made.err;
  }

  testing::ScratchDirectory scratch_;
};

TEST(ContainerSniff, RecognisesContainersAndLeavesSamplesAlone) {
  std::string tar(512, '\0');
  tar.replace(257, 6, std::string("ustar\0", 6));
  const struct {
    std::string bytes;
    std::string kind;
  } cases[] = {
      {"RIFF\x24\0\0\0WAVEfmt ", "a WAV file (RIFF)"},
      {"RF64\xff\xff\xff\xffWAVE", "a WAV file (RF64)"},
      {std::string("riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb\x04\xc1\x00\x00", 16) + "....",
       "a WAV file (W64)"},
      {tar, "a tar archive (a SigMF archive?)"},
      {"PK\x03\x04\x14\0", "a zip archive"},
      {"{\"global\": {}}", "a JSON document (SigMF metadata?)"},
      {"\xef\xbb\xbf  {\n  \"global\" : {", "a JSON document (SigMF metadata?)"},
      {"[{\"a\": 1}]", "a JSON document (SigMF metadata?)"},
      // Samples that merely begin with the same byte values are samples.
      {"{}\n", "a JSON document (SigMF metadata?)"},
      {"{\x01\x02\x03", ""},
      {"{\"\x01\x02\x03", ""},
      {"{\"ab\x01", ""},
      {"{}\x01", ""},
      {"[\x7f\x00\x01", ""},
      {"[{\x7f\x00\x01", ""},
      {"riff\x00\x01", ""},
      {"RIF", ""},
      {std::string(4096, '\0'), ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(containerKind(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()),
              c.kind)
        << c.bytes;
  }
}

TEST(RecordingNames, SampleTypeFromTheName) {
  const struct {
    const char* name;
    std::optional<SampleFormat> format;
  } cases[] = {
      {"a.cf32", SampleFormat::Cf32},  {"a.fc32", SampleFormat::Cf32},
      {"a.cfile", SampleFormat::Cf32}, {"dir.x/A.CFILE", SampleFormat::Cf32},
      {"a.cs16", SampleFormat::Ci16},  {"a.ci16", SampleFormat::Ci16},
      {"a.sc16", SampleFormat::Ci16},  {"a.cs8", SampleFormat::Ci8},
      {"a.ci8", SampleFormat::Ci8},    {"a.sc8", SampleFormat::Ci8},
      {"a.cu8", SampleFormat::Cu8},    {"a.iq", std::nullopt},
      {"a.cf32.bak", std::nullopt},    {"cf32", std::nullopt},
      {"a.dat", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(formatOfName(c.name), c.format) << c.name;
}

TEST_F(RecordingTest, ExplicitFormatWinsWithAWarning) {
  testing::writeBytes(path("a.cf32"), std::string(800, '\0'));
  testing::writeBytes(path("b.iq"), std::string(800, '\0'));
  const struct {
    const char* name;
    std::optional<SampleFormat> asked;
    SampleFormat read;
    long long samples;
    bool warned;
  } cases[] = {
      {"a.cf32", std::nullopt, SampleFormat::Cf32, 100, false},
      {"a.cf32", SampleFormat::Cf32, SampleFormat::Cf32, 100, false},
      {"a.cf32", SampleFormat::Ci16, SampleFormat::Ci16, 200, true},
      {"b.iq", std::nullopt, SampleFormat::Ci16, 200, false},
      {"b.iq", SampleFormat::Cu8, SampleFormat::Cu8, 400, false},
  };
  for (const auto& c : cases) {
    const Recording recording = describeRecording(path(c.name), {c.asked, -1}, "first");
    EXPECT_EQ(recording.format, c.read) << c.name;
    EXPECT_EQ(recording.samples, c.samples) << c.name;
    ASSERT_EQ(recording.warnings.size(), c.warned ? 1u : 0u) << c.name;
    if (c.warned) {
      EXPECT_EQ(recording.warnings[0], "--format ci16 contradicts the first recording's name '" +
                                           path("a.cf32") +
                                           "', which says cf32; it is read as ci16");
    }
  }
}

TEST_F(RecordingTest, ContainersAreNotReadAsSamples) {
  const std::string wavHeader = "RIFF\x24\0\0\0WAVEfmt " + std::string(100, '\1');
  const struct {
    const char* name;
    std::string bytes;
    std::string kind;
  } cases[] = {
      {"wav.iq", wavHeader, "a WAV file (RIFF)"},
      {"wav.cf32", "RF64" + std::string(100, '\1'), "a WAV file (RF64)"},
      {"meta.cs8", "{\n  \"global\": {}}\n", "a JSON document (SigMF metadata?)"},
      {"zip.cu8", "PK\x03\x04" + std::string(100, '\1'), "a zip archive"},
  };
  for (const auto& c : cases) {
    testing::writeBytes(path(c.name), c.bytes);
    EXPECT_EQ(refusal(c.name), "the first recording '" + path(c.name) + "' looks like " + c.kind +
                                   ", not bare samples; give it its container's name (.wav, "
                                   ".sigmf, .sigmf-meta) or convert it");
  }
}

TEST_F(RecordingTest, NonFiniteFloatSamplesAreRefusedWithTheirIndex) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    int index;
    float x, y;
  } cases[] = {{0, nan, 0.0f}, {17, 0.0f, nan}, {99, inf, 1.0f}, {50, 1.0f, -inf}};
  for (const auto& c : cases) {
    std::vector<float2> samples(100, float2{0.5f, -0.5f});
    samples[static_cast<std::size_t>(c.index)] = float2{c.x, c.y};
    testing::writeBytes(path("bad.cf32"), std::string(reinterpret_cast<const char*>(samples.data()),
                                                      samples.size() * sizeof(float2)));
    EXPECT_EQ(refusal("bad.cf32"),
              "the first recording '" + path("bad.cf32") +
                  "' holds a sample that is not a finite number (NaN or infinity) at sample " +
                  std::to_string(c.index));
    // Read from a later start, the index is still the recording's own.
    const Recording recording = describeRecording(path("bad.cf32"), {}, "first");
    std::vector<float2> tail(static_cast<std::size_t>(100 - c.index));
    EXPECT_THROW(openRecording(recording, "first")->read(c.index, tail.size(), tail.data()),
                 InputError);
    // Memory buffers are held to the same rule.
    std::vector<float2> out(100);
    try {
      wrapSamples(samples.data(), 100, SampleFormat::Cf32, "second")->read(0, 100, out.data());
      ADD_FAILURE() << "accepted a non-finite sample";
    } catch (const InputError& error) {
      EXPECT_EQ(std::string(error.what()),
                "the second recording (in memory) holds a sample that is not a finite number (NaN "
                "or infinity) at sample " +
                    std::to_string(c.index));
    }
  }
}

// WAV files written by libsndfile in every container and sample width read back as their values.
TEST_F(RecordingTest, WavInEveryForm) {
  const struct {
    const char* name;
    int format;
    SampleFormat read;
    double scale;  // of the stored values against the indexed values (8-bit: a quarter)
  } cases[] = {
      {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SampleFormat::Ci16, 1.0},
      {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SampleFormat::Cu8, 1.0},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SampleFormat::Cf32, 1.0},
      {"pcm16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, SampleFormat::Ci16, 1.0},
      {"float.rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT, SampleFormat::Cf32, 1.0},
      {"pcm16.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, SampleFormat::Ci16, 1.0},
      {"u8.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_U8, SampleFormat::Cu8, 1.0},
      {"float.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT, SampleFormat::Cf32, 1.0},
      {"extensible.WAV", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, SampleFormat::Ci16, 1.0},
  };
  constexpr int Count = 120;
  for (const auto& c : cases) {
    // I = i - 60, Q = 60 - i: both signs, within 8 bits.
    std::vector<float> values;
    for (int i = 0; i < Count; ++i) {
      values.push_back(static_cast<float>(i - 60));
      values.push_back(static_cast<float>(60 - i));
    }
    SF_INFO info{};
    info.samplerate = 250000;
    info.channels = 2;
    info.format = c.format;
    SNDFILE* file = sf_open(path(c.name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << c.name << ": " << sf_strerror(nullptr);
    // Integer files are written unnormalised, 8-bit values given as their 16-bit equivalents.
    const bool eightBit = (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8;
    std::vector<short> shorts;
    for (float v : values) shorts.push_back(static_cast<short>(v * (eightBit ? 256 : 1)));
    if (c.read == SampleFormat::Cf32) {
      ASSERT_EQ(sf_writef_float(file, values.data(), Count), Count);
    } else {
      ASSERT_EQ(sf_writef_short(file, shorts.data(), Count), Count);
    }
    sf_close(file);

    const Recording recording = describeRecording(path(c.name), {}, "first");
    EXPECT_EQ(recording.kind, RecordingKind::Wav) << c.name;
    EXPECT_EQ(recording.format, c.read) << c.name;
    EXPECT_EQ(recording.sampleRate, 250000.0) << c.name;
    EXPECT_EQ(recording.samples, Count) << c.name;
    std::vector<float2> read(40);
    openRecording(recording, "first")->read(70, read.size(), read.data());
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(read[static_cast<std::size_t>(i)].x, static_cast<float>(70 + i - 60)) << c.name;
      EXPECT_EQ(read[static_cast<std::size_t>(i)].y, static_cast<float>(60 - 70 - i)) << c.name;
    }
    if (c.read != SampleFormat::Cf32) {
      const std::vector<short2> ints = readInt16(c.name, 0, 2);
      EXPECT_EQ(ints[1].x, -59) << c.name;
      EXPECT_EQ(ints[1].y, 59) << c.name;
    }
  }
}

TEST_F(RecordingTest, WavRefusals) {
  const struct {
    const char* name;
    int format;
    int channels;
    std::string reason;  // after "the first recording '<path>'"
  } cases[] = {
      {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1,
       " has 1 channel; an I/Q recording has two, in-phase first"},
      {"three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3,
       " has 3 channels; an I/Q recording has two, in-phase first"},
      {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2,
       " holds samples that are not 8-bit, 16-bit or 32-bit float"},
      {"double.w64", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, 2,
       " holds samples that are not 8-bit, 16-bit or 32-bit float"},
  };
  for (const auto& c : cases) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = c.channels;
    info.format = c.format;
    SNDFILE* file = sf_open(path(c.name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << c.name;
    std::vector<short> zeros(30);
    sf_writef_short(file, zeros.data(), 10);
    sf_close(file);
    EXPECT_EQ(refusal(c.name), "the first recording '" + path(c.name) + "'" + c.reason);
  }
  testing::writeBytes(path("text.wav"), "not a wave file at all");
  EXPECT_EQ(
      refusal("text.wav")
          .rfind("the first recording '" + path("text.wav") + "' cannot be read as a WAV file: ",
                 0),
      0u);
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  sf_close(sf_open(path("ok.wav").c_str(), SFM_WRITE, &info));
  EXPECT_EQ(refusal("ok.wav", {SampleFormat::Cf32, -1}),
            "--format cf32 disagrees with the first recording's WAV header, which gives ci16");
}

// Each SigMF field that moves samples: where sample i is read from, with the indexed samples
// showing which stored sample arrived.
TEST_F(RecordingTest, SigmfFieldsPlaceTheSamples) {
  const std::string junk8(8, '\x55');
  const std::string junk16(16, '\x66');
  const auto indexed = [](int count, int first = 0) {
    return bytesOf(testing::indexedSamples(count, first));
  };
  const struct {
    const char* what;
    std::string global;
    std::string captures;
    std::string data;
    int channel;
    long long samples;
    std::vector<std::pair<long long, short>> expected;  // sample index, its I value
  } cases[] = {
      {"plain", "", R"({"core:sample_start": 0})", indexed(50), -1, 50, {{0, 0}, {49, 49}}},
      {"no captures", "", "", indexed(50), -1, 50, {{7, 7}}},
      {"header bytes",
       "",
       R"({"core:sample_start": 0, "core:header_bytes": 8})",
       junk8 + indexed(50),
       -1,
       50,
       {{0, 0}, {49, 49}}},
      {"header bytes per capture",
       "",
       R"({"core:sample_start": 0, "core:header_bytes": 8},
          {"core:sample_start": 30, "core:header_bytes": 16})",
       junk8 + indexed(30) + junk16 + indexed(20, 30),
       -1,
       50,
       {{29, 29}, {30, 30}, {49, 49}}},
      {"trailing bytes",
       R"(, "core:trailing_bytes": 12)",
       "",
       indexed(50) + std::string(12, 'x'),
       -1,
       50,
       {{49, 49}}},
      {"two channels, the second",
       R"(, "core:num_channels": 2)",
       "",
       interleaved(2, 40),
       1,
       40,
       {{0, 1000}, {39, 1039}}},
      {"three channels, the first",
       R"(, "core:num_channels": 3)",
       "",
       interleaved(3, 40),
       0,
       40,
       {{5, 5}}},
      {"one channel, --channel ignored", "", "", indexed(50), 3, 50, {{5, 5}}},
      {"samples before the first capture",
       "",
       R"({"core:sample_start": 10})",
       indexed(50),
       -1,
       50,
       {{0, 0}, {10, 10}}},
  };
  for (const auto& c : cases) {
    writeSigmf("rec", c.global, c.captures, c.data);
    const Recording recording =
        describeRecording(path("rec.sigmf-meta"), {std::nullopt, c.channel}, "first");
    EXPECT_EQ(recording.samples, c.samples) << c.what;
    for (const auto& [index, value] : c.expected) {
      const std::vector<short2> got =
          readInt16("rec.sigmf-data", index, 1, {std::nullopt, c.channel});
      EXPECT_EQ(got[0].x, value) << c.what << " sample " << index;
      EXPECT_EQ(got[0].y, -value) << c.what << " sample " << index;
    }
  }
}

TEST_F(RecordingTest, SigmfRefusals) {
  const std::string meta = path("rec.sigmf-meta");
  const std::string about = "the first recording's metadata '" + meta + "'";
  const struct {
    std::string global;
    std::string captures;
    int dataBytes;
    int channel;
    std::string reason;
  } cases[] = {
      {R"(, "core:num_channels": 2)", "", 400, -1,
       about + " gives 2 interleaved channels (core:num_channels); pick one with --channel K, K "
               "from 0 to 1"},
      {R"(, "core:num_channels": 2)", "", 400, 2,
       "--channel 2 is beyond the 2 channels of " + about},
      {R"(, "core:num_channels": 0)", "", 400, -1,
       about + " gives \"core:num_channels\" that is not a whole number of at least 1"},
      {R"(, "core:trailing_bytes": -1)", "", 400, -1,
       about + " gives \"core:trailing_bytes\" that is not a whole number of at least 0"},
      {R"(, "core:trailing_bytes": 500)", "", 400, -1,
       about + " gives more header and trailing bytes than the data file's 400"},
      {"", R"({"core:sample_start": 0, "core:header_bytes": 404})", 400, -1,
       about + " gives more header and trailing bytes than the data file's 400"},
      {"", R"({"core:sample_start": 0, "core:header_bytes": 9223372036854775807},
              {"core:sample_start": 1, "core:header_bytes": 9223372036854775807})",
       400, -1, about + " gives more header and trailing bytes than the data file's 400"},
      {R"(, "core:num_channels": 100000)", "", 400, 0,
       about + " gives 100000 channels (core:num_channels), more than the 65536 a recording may "
               "have here"},
      {"", R"({"core:sample_start": 0, "core:header_bytes": "8"})", 400, -1,
       about + " capture 0 gives \"core:header_bytes\" that is not a whole number of at least 0"},
      {"", R"({"core:sample_start": 101})", 400, -1,
       about + " has a capture starting at sample 101, past the data file's 100 samples"},
      {"", R"({"core:sample_start": 50}, {"core:sample_start": 50})", 400, -1,
       about + " capture 1 does not start after the one before it"},
      {"", R"({"core:sample_start": 0, "core:frequency": "915M"})", 400, -1,
       about + " capture 0 gives \"core:frequency\" that is not a number"},
      {"", R"({"core:sample_start": 0, "core:datetime": "yesterday"})", 400, -1,
       about + " capture 0 gives \"core:datetime\" 'yesterday', which is not an ISO 8601 time "
               "with its zone"},
      {"", R"({"core:sample_start": 0, "core:datetime": "2024-05-01T12:00:00"})", 400, -1,
       about + " capture 0 gives \"core:datetime\" '2024-05-01T12:00:00', which is not an ISO "
               "8601 time with its zone"},
      {"", R"(7)", 400, -1, about + " capture 0 is not an object"},
  };
  for (const auto& c : cases) {
    writeSigmf("rec", c.global, c.captures,
               std::string(static_cast<std::size_t>(c.dataBytes), '\0'));
    EXPECT_EQ(refusal("rec.sigmf-meta", {std::nullopt, c.channel}), c.reason) << c.reason;
  }
}

TEST_F(RecordingTest, SigmfByItsBaseName) {
  writeSigmf("rec", R"(, "core:sample_rate": 2e6)", "", bytesOf(testing::indexedSamples(64)));
  for (const char* name : {"rec", "rec.sigmf-meta", "rec.sigmf-data"}) {
    const Recording recording = describeRecording(path(name), {}, "first");
    EXPECT_EQ(recording.kind, RecordingKind::Sigmf) << name;
    EXPECT_EQ(recording.sampleRate, 2e6) << name;
    EXPECT_EQ(recording.samples, 64) << name;
  }
  // A file of that very name is read as what it is.
  testing::writeBytes(path("rec"), std::string(40, '\0'));
  EXPECT_EQ(describeRecording(path("rec"), {}, "first").kind, RecordingKind::Samples);
  EXPECT_EQ(refusal("nothing"), "the first recording '" + path("nothing") + "' does not exist");
}

// Archives as the three tar dialects write them, the samples read in place.
TEST_F(RecordingTest, SigmfArchivesInEveryTarDialect) {
  const std::string deep =
      "a-directory-name-long-enough-to-need-more-than-a-hundred-bytes/" + std::string(60, 'd');
  std::filesystem::create_directories(scratch_.path(deep));
  for (const std::string& base : {std::string("rec"), deep + "/rec"}) {
    writeSigmf(base, R"(, "core:sample_rate": 5e5)",
               R"({"core:sample_start": 0, "core:header_bytes": 8})",
               std::string(8, 'h') + bytesOf(testing::indexedSamples(300)));
  }
  const struct {
    const char* format;
    std::string base;
  } cases[] = {{"ustar", "rec"},
               {"gnu", "rec"},
               {"pax", "rec"},
               {"gnu", deep + "/rec"},
               {"pax", deep + "/rec"}};
  for (const auto& c : cases) {
    tar("rec.sigmf", {c.base + ".sigmf-meta", c.base + ".sigmf-data"}, c.format);
    const Recording recording = describeRecording(path("rec.sigmf"), {}, "first");
    EXPECT_EQ(recording.kind, RecordingKind::SigmfArchive) << c.format;
    EXPECT_EQ(recording.sampleRate, 5e5) << c.format;
    EXPECT_EQ(recording.samples, 300) << c.format;
    const std::vector<short2> got = readInt16("rec.sigmf", 250, 50);
    EXPECT_EQ(got[0].x, 250) << c.format << " " << c.base;
    EXPECT_EQ(got[49].y, -299) << c.format << " " << c.base;
  }
  // Named by its base name too.
  EXPECT_EQ(describeRecording(path("rec"), {}, "first").kind, RecordingKind::Sigmf);
  std::filesystem::rename(scratch_.path("rec.sigmf-meta"), scratch_.path("moved.sigmf-meta"));
  EXPECT_EQ(describeRecording(path("rec"), {}, "first").kind, RecordingKind::SigmfArchive);
}

TEST_F(RecordingTest, ArchiveRefusals) {
  writeSigmf("one", "", "", bytesOf(testing::indexedSamples(10)));
  writeSigmf("two", "", "", bytesOf(testing::indexedSamples(10)));
  testing::writeBytes(path("other.txt"), "hello");
  tar("none.sigmf", {"other.txt"}, "ustar");
  tar("two.sigmf", {"one.sigmf-meta", "one.sigmf-data", "two.sigmf-meta", "two.sigmf-data"},
      "ustar");
  tar("several.sigmf", {"one.sigmf-meta", "one.sigmf-data", "two.sigmf-meta"}, "ustar");
  tar("nodata.sigmf", {"one.sigmf-meta"}, "ustar");
  tar("whole.sigmf", {"one.sigmf-meta", "one.sigmf-data"}, "ustar");
  testing::writeBytes(path("bad.sigmf-meta"), "{\"global\": ");
  testing::writeBytes(path("bad.sigmf-data"), "");
  tar("bad.sigmf", {"bad.sigmf-meta", "bad.sigmf-data"}, "ustar");
  const std::string whole = [&] {
    std::ifstream file(path("whole.sigmf"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }();
  testing::writeBytes(path("cut.sigmf"), whole.substr(0, 1024 + 20));
  testing::writeBytes(path("cut-data.sigmf"), whole.substr(0, 1536 + 20));
  std::string damaged = whole;
  damaged[1024 + 10] = 'Z';  // in the data member's header: its checksum no longer matches
  testing::writeBytes(path("damaged.sigmf"), damaged);
  testing::writeBytes(path("gz.sigmf"), "\x1f\x8b\x08\x00" + std::string(600, '\0'));
  testing::writeBytes(path("text.sigmf"), std::string(600, 'x'));
  testing::writeBytes(path("tiny.sigmf"), "x");
  const auto about = [&](const char* name) {
    return "the first recording's archive '" + path(name) + "'";
  };
  const struct {
    const char* name;
    std::string reason;
  } cases[] = {
      {"none.sigmf", about("none.sigmf") + " holds no .sigmf-meta member"},
      {"several.sigmf",
       about("several.sigmf") + " holds 2 recordings and none is named 'several.sigmf-meta'"},
      {"nodata.sigmf", about("nodata.sigmf") + " holds 'one.sigmf-meta' but no 'one.sigmf-data'"},
      {"cut.sigmf", about("cut.sigmf") + " ends inside a header: the archive is cut short"},
      {"cut-data.sigmf",
       about("cut-data.sigmf") + " ends inside a member: the archive is cut short"},
      {"damaged.sigmf", about("damaged.sigmf") + " has a damaged tar header at byte 1024"},
      {"gz.sigmf", about("gz.sigmf") + " is gzip-compressed; SigMF archives are plain tar: "
                                       "decompress it first"},
      {"text.sigmf", about("text.sigmf") + " is not a tar archive"},
      {"tiny.sigmf", about("tiny.sigmf") + " is too short to be a tar archive"},
      {"bad.sigmf", "the first recording's metadata '" + path("bad.sigmf") +
                        ":bad.sigmf-meta' is not valid JSON: "},
  };
  // Every refusal closes what it opened.
  const auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto before = openFiles();
  for (const auto& c : cases) {
    const std::string reason = refusal(c.name);
    if (c.reason.ends_with(": ")) {
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    } else {
      EXPECT_EQ(reason, c.reason) << c.name;
    }
  }
  EXPECT_EQ(openFiles(), before);
  // Of several recordings, the one named like the archive.
  EXPECT_EQ(readInt16("two.sigmf", 9, 1)[0].x, 9);
}

TEST(Datetimes, ParsedToTheNanosecond) {
  const struct {
    const char* text;
    bool valid;
    long long seconds;
    double fraction;
  } cases[] = {
      {"1970-01-01T00:00:00Z", true, 0, 0.0},
      {"2024-05-01T12:00:00.123456789Z", true, 1714564800, 0.123456789},
      {"2024-05-01T14:00:00.5+02:00", true, 1714564800, 0.5},
      {"2024-05-01T11:30:00-0030", true, 1714564800, 0.0},
      {"2000-02-29T00:00:00Z", true, 951782400, 0.0},
      {"2024-05-01T12:00:00", false, 0, 0.0},
      {"2024-05-01 12:00:00Z", false, 0, 0.0},
      {"2024-13-01T12:00:00Z", false, 0, 0.0},
      {"2024-05-01T12:00:00.Z", false, 0, 0.0},
      {"2024-05-01T12:00:00Zjunk", false, 0, 0.0},
      {"", false, 0, 0.0},
  };
  for (const auto& c : cases) {
    const std::optional<StartTime> time = parseDatetime(c.text);
    ASSERT_EQ(time.has_value(), c.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(time->seconds, c.seconds) << c.text;
    EXPECT_NEAR(time->fraction, c.fraction, 1e-15) << c.text;
  }
}

}  // namespace
}  // namespace kestrav
