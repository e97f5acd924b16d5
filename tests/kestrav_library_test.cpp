// The shared library as another program sees it: its C entries and nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>

#include "engine/kestrav.h"
#include "support/float_pairs.hpp"
#include "support/test_files.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using KestravFunction = decltype(&::Kestrav);

TEST(KestravLibrary, ExportsOnlyTheCEntries) {
  const testing::ProcessResult nm =
      testing::runProgram("/usr/bin/nm", {"-D", "--defined-only", KESTRAV_SHARED_LIBRARY});
  ASSERT_EQ(nm.status, 0) << nm.err;
  std::istringstream lines(nm.out);
  std::string address, type, name;
  int exported = 0;
  while (lines >> address >> type >> name) {
    EXPECT_TRUE(name == "Kestrav" || name == "KestravSearchSamples" ||
                name == "KestravReadRecording" || name == "kestrav_search" ||
                name == "kestrav_default_request" || name == "kestrav_version")
        << "unexpected export " << type << " " << name;
    ++exported;
  }
  EXPECT_EQ(exported, 6);
}

// The program and the library start without mapping any CUDA library: the CUDA backend is a
// module they load only where a driver and a device are present.
TEST(KestravLibrary, NeitherTheProgramNorTheLibraryLinksCuda) {
  for (const char* file : {KESTRAV_PROGRAM, KESTRAV_SHARED_LIBRARY}) {
    const testing::ProcessResult ldd = testing::runProgram("/usr/bin/ldd", {file});
    ASSERT_EQ(ldd.status, 0) << ldd.err;
    for (const char* library : {"libcuda", "libcudart", "libcufft", "libcublas"}) {
      EXPECT_EQ(ldd.out.find(library), std::string::npos) << file << " links " << library;
    }
  }
#ifdef KESTRAV_CUDA_MODULE_FILE
  // The module's one exported function; its C++ insides stay hidden.
  const testing::ProcessResult nm =
      testing::runProgram("/usr/bin/nm", {"-D", "--defined-only", KESTRAV_CUDA_MODULE_FILE});
  ASSERT_EQ(nm.status, 0) << nm.err;
  std::istringstream lines(nm.out);
  std::string address, type, name;
  while (lines >> address >> type >> name) {
    if (type == "T") {
      EXPECT_EQ(name, "kestrav_cuda_module");
    }
  }
#endif
}

class KestravEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::dlopen(KESTRAV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    kestrav_ = reinterpret_cast<KestravFunction>(::dlsym(library_, "Kestrav"));
    ASSERT_NE(kestrav_, nullptr);
    testing::writeSamples(first_, testing::indexedSamples(5000));
    testing::writeSamples(second_, testing::indexedSamples(5000));
  }
  void TearDown() override {
    if (library_ != nullptr) ::dlclose(library_);
  }
  bool call(SearchResult* results, int* count, const char* first, const char* second,
            int sampleCount = 4000, double rate = 1e6, double window = 1e-4,
            double threshold = 10.0) {
    // Without refinement: 4000 samples at 1 MHz would ask for a zoom of millions of points.
    return kestrav_(results, count, first, second, sampleCount, rate, 0.0, window, 16384.0, 0.0,
                    0.0, threshold, false);
  }

  void* library_ = nullptr;
  KestravFunction kestrav_ = nullptr;
  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

// Every unusable call returns false and leaves the results and the count as they were; a usable
// one returns true with a count in range.
TEST_F(KestravEntry, RefusesUnusableArgumentsWithoutTouchingTheOutputs) {
  const std::string absent = scratch_.path("absent.iq").string();
  const char* first = first_.c_str();
  const char* second = second_.c_str();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  SearchResult results[MaxResults];
  for (SearchResult& result : results) result = {1.0, 2.0, 3.0};
  int count = 42;
  EXPECT_FALSE(call(results, &count, first, absent.c_str()));
  EXPECT_FALSE(call(nullptr, &count, first, second));
  EXPECT_FALSE(call(results, nullptr, first, second));
  EXPECT_FALSE(call(results, &count, nullptr, second));
  EXPECT_FALSE(call(results, &count, first, nullptr));
  EXPECT_FALSE(call(results, &count, first, second, 0));
  EXPECT_FALSE(call(results, &count, first, second, -100));
  EXPECT_FALSE(call(results, &count, first, second, 4000, 0.0));
  EXPECT_FALSE(call(results, &count, first, second, 4000, nan));
  EXPECT_FALSE(call(results, &count, first, second, 4000, 1e6, -1e-4));
  EXPECT_FALSE(call(results, &count, first, second, 4000, 1e6, 1e-4, nan));
  EXPECT_FALSE(call(results, &count, first, second, 4000, 1e300, 1e300));
  // A count that lives inside the result array would be overwritten by a result.
  EXPECT_FALSE(call(results, reinterpret_cast<int*>(&results[3].level), first, second));
  EXPECT_EQ(count, 42);
  for (const SearchResult& result : results) {
    EXPECT_EQ(result.delay, 1.0);
    EXPECT_EQ(result.frequencyOffset, 2.0);
    EXPECT_EQ(result.level, 3.0);
  }
  count = -7;
  EXPECT_TRUE(call(results, &count, first, second));
  EXPECT_GE(count, 0);
  EXPECT_LE(count, MaxResults);
}

// Float32 buffers of the int16 buffers' values give their results bit for bit (unrounded values
// through this entry: tests/python/test_kestrav.py).
TEST_F(KestravEntry, SearchesFloat32Buffers) {
  const auto search = reinterpret_cast<decltype(&::KestravSearchSamples)>(
      ::dlsym(library_, "KestravSearchSamples"));
  ASSERT_NE(search, nullptr);
  PairConfig config;
  config.emitters = {Emitter{-87.654e-6, 2345.678, 0.0}};
  config.seed = 5;
  const SamplePairInt16 ints = quantizePair(generatePair(config));
  const std::vector<float2> floats[] = {testing::asFloats(ints.first),
                                        testing::asFloats(ints.second)};
  const long long n = config.sampleCount;
  const auto run = [&](const void* first, const void* second, int type, SearchResult* results) {
    int count = -1;
    char message[256];
    EXPECT_EQ(search(results, &count, first, n, second, n, type, config.sampleCount, 1e6, 0.0,
                     311e-6, 16384.0, 0.0, 0.0, 15.0, true, message, sizeof message),
              KestravOk)
        << message;
    return count;
  };
  SearchResult fromInts[MaxResults], fromFloats[MaxResults];
  const int count = run(ints.first.data(), ints.second.data(), KestravInt16, fromInts);
  ASSERT_GE(count, 1);
  EXPECT_NEAR(fromInts[0].delay, -87.654e-6, 1e-8);
  ASSERT_EQ(run(floats[0].data(), floats[1].data(), KestravFloat32, fromFloats), count);
  EXPECT_EQ(std::memcmp(fromFloats, fromInts, sizeof(SearchResult) * count), 0);
}

// kestrav_search through dlopen, on a pair the synthesizer writes: the document the program
// prints, refusals with their reasons, the buffer's needed length, the version.
class KestravSearchEntry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testing::ScratchDirectory;
    first_ = scratch_->path("first.iq").string();
    second_ = scratch_->path("second.iq").string();
    const testing::ProcessResult synth = testing::runProgram(
        KESTRAV_SYNTH, {"--first=" + first_, "--second=" + second_, "--samples=65536",
                        "--rate=1000000", "--delay-us=-12.5", "--offset-hz=300", "--seed=5"});
    ASSERT_EQ(synth.status, 0) << synth.err;
  }
  static void TearDownTestSuite() { delete scratch_; }

  void SetUp() override {
    library_ = ::dlopen(KESTRAV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    search_ = reinterpret_cast<decltype(&::kestrav_search)>(::dlsym(library_, "kestrav_search"));
    defaults_ = reinterpret_cast<decltype(&::kestrav_default_request)>(
        ::dlsym(library_, "kestrav_default_request"));
    version_ = reinterpret_cast<decltype(&::kestrav_version)>(::dlsym(library_, "kestrav_version"));
    ASSERT_TRUE(search_ != nullptr && defaults_ != nullptr && version_ != nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) ::dlclose(library_);
  }

  // The request the program's "-s 65536 -f 1000000 -c 0 -r 100 -t 15" stands for.
  kestrav_search_request request() const {
    kestrav_search_request given = defaults_();
    given.first_path = first_.c_str();
    given.second_path = second_.c_str();
    given.sample_count = 65536;
    given.sample_rate = 1e6;
    // Microseconds converted as the program converts them, so that the echoes agree too.
    given.delay_window = 100 * 0.000001;
    return given;
  }

  struct Call {
    int status = -1;
    std::string json;
    std::size_t length = 0;
    std::string message;
  };
  Call call(const kestrav_search_request* given, std::size_t size = 1 << 20) const {
    Call result;
    std::vector<char> json(size, 'x');
    char message[512];
    result.status = search_(given, size == 0 ? nullptr : json.data(), size, &result.length, message,
                            sizeof message);
    result.message = message;
    if (result.status == KestravOk) result.json = json.data();
    return result;
  }

  static nlohmann::json withoutTimings(nlohmann::json document) {
    document.erase("timings_s");
    return document;
  }

  static testing::ScratchDirectory* scratch_;
  static std::string first_;
  static std::string second_;
  void* library_ = nullptr;
  decltype(&::kestrav_search) search_ = nullptr;
  decltype(&::kestrav_default_request) defaults_ = nullptr;
  decltype(&::kestrav_version) version_ = nullptr;
};

testing::ScratchDirectory* KestravSearchEntry::scratch_ = nullptr;
std::string KestravSearchEntry::first_;
std::string KestravSearchEntry::second_;

// Every field the program prints, the same from the entry: only the timings differ.
TEST_F(KestravSearchEntry, GivesTheDocumentTheProgramPrints) {
  struct Case {
    const char* name;
    std::vector<std::string> options;  // beside -m -a -s -f -r -j --json
    void (*change)(kestrav_search_request&);
  };
  const Case cases[] = {
      {"defaults", {"-c", "0", "-t", "15"}, [](kestrav_search_request&) {}},
      {"precise, every result refined, two threads",
       {"-c", "0", "-t", "15", "--precise", "--refine-all", "--threads", "2"},
       [](kestrav_search_request& r) {
         r.precise = 1;
         r.refine_all = 1;
         r.threads = 2;
       }},
      {"probability threshold, emitters only, gates",
       {"--false-alarm", "0.01", "--distinct", "--remove-dc", "--min-abs-offset", "10",
        "--min-abs-delay", "1", "--frequency-span", "8192", "-c", "-3", "--backend", "host"},
       [](kestrav_search_request& r) {
         r.false_alarm = 0.01;
         r.distinct = 1;
         r.remove_dc = 1;
         r.min_abs_frequency = 10.0;
         r.min_abs_delay = 1 * 0.000001;
         r.frequency_span = 8192.0;
         r.centre_delay = -3 * 0.000001;
         r.backend = "host";
       }},
      {"no refinement",
       {"-c", "0", "-t", "15", "-p", "1"},
       [](kestrav_search_request& r) { r.refine = 0; }},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"-m",      first_, "-a",  second_, "-s", "65536", "-f",
                                       "1000000", "-r",   "100", "-j",    "0",  "--json"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const testing::ProcessResult program = testing::runProgram(KESTRAV_PROGRAM, arguments);
    ASSERT_EQ(program.status, 0) << c.name << ": " << program.err;
    kestrav_search_request given = request();
    c.change(given);
    const Call entry = call(&given);
    ASSERT_EQ(entry.status, KestravOk) << c.name << ": " << entry.message;
    EXPECT_EQ(entry.message, "");
    EXPECT_EQ(entry.length, entry.json.size());
    const nlohmann::json printed = nlohmann::json::parse(program.out);
    const nlohmann::json returned = nlohmann::json::parse(entry.json);
    ASSERT_FALSE(returned["results"].empty()) << c.name;
    EXPECT_EQ(returned["results"][0].contains("sigma_delay_s"), given.refine != 0) << c.name;
    EXPECT_EQ(withoutTimings(returned), withoutTimings(printed)) << c.name;
  }
}

// Each unusable request: its status, a reason naming the fault, and no document.
TEST_F(KestravSearchEntry, RefusesUnusableRequestsWithTheirReason) {
  struct Case {
    const char* reason;
    void (*change)(kestrav_search_request&);
  };
  static const std::string absent = "/nonexistent/kestrav/absent.iq";
  const Case cases[] = {
      {"struct_size 8 is not a layout", [](kestrav_search_request& r) { r.struct_size = 8; }},
      {"is not a layout this library knows",
       [](kestrav_search_request& r) { r.struct_size += sizeof(double); }},
      {"paths are needed", [](kestrav_search_request& r) { r.second_path = nullptr; }},
      {"does not exist", [](kestrav_search_request& r) { r.first_path = absent.c_str(); }},
      {"first format 'cf64' is not one of",
       [](kestrav_search_request& r) { r.first_format = "cf64"; }},
      {"backend 'gpu' is not one of", [](kestrav_search_request& r) { r.backend = "gpu"; }},
      {"thread count -1 is negative", [](kestrav_search_request& r) { r.threads = -1; }},
      {"sample count -5", [](kestrav_search_request& r) { r.sample_count = -5; }},
      {"sample count 4294967296", [](kestrav_search_request& r) { r.sample_count = 1LL << 32; }},
      {"sample rate is needed", [](kestrav_search_request& r) { r.sample_rate = 0.0; }},
      {"sample rate -1 Hz", [](kestrav_search_request& r) { r.sample_rate = -1.0; }},
      {"window", [](kestrav_search_request& r) { r.delay_window = 0.0; }},
      {"peak threshold", [](kestrav_search_request& r) { r.peak_threshold = 0.0; }},
      {"false-alarm probability", [](kestrav_search_request& r) { r.false_alarm = 1.0; }},
      {"must not be negative", [](kestrav_search_request& r) { r.min_abs_delay = -1e-6; }},
      {"channel -2", [](kestrav_search_request& r) { r.channel = -2; }},
  };
  for (const Case& c : cases) {
    kestrav_search_request given = request();
    c.change(given);
    const Call refused = call(&given);
    EXPECT_EQ(refused.status, KestravInputError) << c.reason << ": " << refused.message;
    EXPECT_NE(refused.message.find(c.reason), std::string::npos) << refused.message;
    EXPECT_EQ(refused.message.find('\n'), std::string::npos) << refused.message;
    EXPECT_EQ(refused.length, 0u) << c.reason;
  }
  const Call null = call(nullptr);
  EXPECT_EQ(null.status, KestravInputError);
  EXPECT_EQ(null.message, "the request is null");
}

// A buffer too small for the document: nothing written, the length this run needed told, and a
// buffer with room beyond it holds the next run's (whose timings may take a few more digits).
TEST_F(KestravSearchEntry, ASmallBufferLearnsTheLengthNeeded) {
  const kestrav_search_request given = request();
  const Call asked = call(&given, 0);
  EXPECT_EQ(asked.status, KestravInputError);
  EXPECT_NE(asked.message.find("bytes with its terminator"), std::string::npos) << asked.message;
  ASSERT_GT(asked.length, 1000u);
  for (const std::size_t size : {std::size_t{1}, std::size_t{16}, asked.length / 2}) {
    std::vector<char> json(size, 'x');
    std::size_t length = 0;
    EXPECT_EQ(search_(&given, json.data(), size, &length, nullptr, 0), KestravInputError);
    EXPECT_GE(length, size) << size;
    EXPECT_NEAR(static_cast<double>(length), static_cast<double>(asked.length), 200.0);
    EXPECT_EQ(std::string(json.begin(), json.end()), std::string(size, 'x')) << size;
  }
  const Call fits = call(&given, asked.length + KestravJsonSlack);
  ASSERT_EQ(fits.status, KestravOk) << fits.message;
  EXPECT_EQ(fits.json.size(), fits.length);
  EXPECT_EQ(withoutTimings(nlohmann::json::parse(fits.json)),
            withoutTimings(nlohmann::json::parse(call(&given).json)));
}

// The request's threads bound the workers, and the document says both; without them the
// program's default (KESTRAV_THREADS, read once per process) stands.
TEST_F(KestravSearchEntry, ThreadsAskedAndAllowed) {
  const struct {
    int threads;
    const char* environment;  // KESTRAV_THREADS for the program; null: unset
  } cases[] = {{1, nullptr}, {3, nullptr}, {0, "2"}, {5, "2"}};
  for (const auto& c : cases) {
    kestrav_search_request given = request();
    given.threads = c.threads;
    const nlohmann::json parameters = nlohmann::json::parse(call(&given).json)["parameters"];
    if (c.threads > 0) {
      EXPECT_EQ(parameters["threads"], c.threads);
      EXPECT_EQ(parameters["worker_threads"], c.threads);
    } else {
      EXPECT_TRUE(parameters["threads"].is_null());
      EXPECT_GE(parameters["worker_threads"].get<int>(), 1);
    }
    std::vector<std::string> arguments{"-m", first_,    "-a", second_, "-s",    "65536",
                                       "-f", "1000000", "-c", "0",     "-r",    "100",
                                       "-j", "0",       "-t", "15",    "--json"};
    if (c.threads > 0) arguments.insert(arguments.end(), {"--threads", std::to_string(c.threads)});
    const std::string program =
        c.environment == nullptr ? std::string(KESTRAV_PROGRAM) : std::string("/usr/bin/env");
    if (c.environment != nullptr) {
      arguments.insert(arguments.begin(),
                       {std::string("KESTRAV_THREADS=") + c.environment, KESTRAV_PROGRAM});
    }
    const testing::ProcessResult run = testing::runProgram(program, arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json printed = nlohmann::json::parse(run.out)["parameters"];
    const int allowed = c.threads > 0 ? c.threads : std::atoi(c.environment);
    EXPECT_EQ(printed["worker_threads"], allowed) << c.threads;
  }
}

// SigMF recordings: the rate from their metadata, their captures echoed, a retune inside the
// searched segment among the warnings as the program says it on standard error.
TEST_F(KestravSearchEntry, EchoesWhatSigmfMetadataGave) {
  const std::string first = scratch_->path("tuned").string();
  const std::string second = scratch_->path("other").string();
  std::filesystem::copy_file(first_, first + ".sigmf-data",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::copy_file(second_, second + ".sigmf-data",
                             std::filesystem::copy_options::overwrite_existing);
  const auto meta = [](const std::string& base, const nlohmann::json& captures) {
    testing::writeBytes(
        base + ".sigmf-meta",
        nlohmann::json{
            {"global",
             {{"core:datatype", "ci16_le"}, {"core:sample_rate", 1e6}, {"core:version", "1.0.0"}}},
            {"captures", captures},
            {"annotations", nlohmann::json::array()}}
            .dump());
  };
  meta(first, {{{"core:sample_start", 0},
                {"core:frequency", 1e8},
                {"core:datetime", "2024-05-01T12:00:00Z"}},
               {{"core:sample_start", 30000}, {"core:frequency", 1.00001e8}}});
  meta(second, nlohmann::json::array());
  kestrav_search_request given = request();
  given.first_path = first.c_str();
  given.second_path = second.c_str();
  given.sample_rate = 0.0;
  const Call entry = call(&given);
  ASSERT_EQ(entry.status, KestravOk) << entry.message;
  const nlohmann::json document = nlohmann::json::parse(entry.json);
  const nlohmann::json& input = document["inputs"]["first"];
  EXPECT_EQ(input["kind"], "sigmf");
  EXPECT_EQ(input["format"], "ci16");
  EXPECT_EQ(input["sample_rate_hz"], 1e6);
  EXPECT_EQ(input["data_path"], first + ".sigmf-data");
  ASSERT_EQ(input["captures"].size(), 2u);
  EXPECT_EQ(input["captures"][1]["sample_start"], 30000);
  EXPECT_EQ(input["captures"][1]["frequency_hz"], 1.00001e8);
  EXPECT_TRUE(input["captures"][1]["datetime"].is_null());
  EXPECT_EQ(document["inputs"]["second"]["captures"], nlohmann::json::array());
  EXPECT_EQ(document["parameters"]["sample_rate_hz"], 1e6);
  const testing::ProcessResult program = testing::runProgram(
      KESTRAV_PROGRAM,
      {"-m", first, "-a", second, "-s", "65536", "-c", "0", "-r", "100", "-j", "0", "-t", "15"});
  ASSERT_EQ(program.status, 0) << program.err;
  std::string said;
  for (const nlohmann::json& warning : document["warnings"]) {
    said += "kestrav: warning: " + warning.get<std::string>() + "\n";
  }
  EXPECT_NE(said.find("capture 1 at sample 30000"), std::string::npos) << said;
  EXPECT_EQ(said, program.err);
}

// A path is bytes: one that is not UTF-8 still gives a document, its stray byte shown as U+FFFD.
TEST_F(KestravSearchEntry, APathThatIsNotUtf8IsEchoedReplaced) {
  const std::string odd = scratch_->path("odd\xff.iq").string();
  std::filesystem::copy_file(first_, odd, std::filesystem::copy_options::overwrite_existing);
  kestrav_search_request given = request();
  given.first_path = odd.c_str();
  const Call entry = call(&given);
  ASSERT_EQ(entry.status, KestravOk) << entry.message;
  EXPECT_EQ(nlohmann::json::parse(entry.json)["inputs"]["first"]["path"],
            scratch_->path("odd\xef\xbf\xbd.iq").string());
}

TEST_F(KestravSearchEntry, TellsItsVersion) {
  EXPECT_STREQ(version_(), KESTRAV_PROJECT_VERSION);
  const kestrav_search_request given = request();
  EXPECT_EQ(nlohmann::json::parse(call(&given).json)["version"], KESTRAV_PROJECT_VERSION);
  const testing::ProcessResult program = testing::runProgram(KESTRAV_PROGRAM, {"--version"});
  EXPECT_EQ(program.out.rfind(std::string("kestrav ") + KESTRAV_PROJECT_VERSION + " ", 0), 0u)
      << program.out;
  const kestrav_search_request defaults = defaults_();
  EXPECT_EQ(defaults.struct_size, sizeof(kestrav_search_request));
}

}  // namespace
}  // namespace kestrav
