// The shared library as another program sees it: one exported C function and nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
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
                name == "KestravReadRecording")
        << "unexpected export " << type << " " << name;
    ++exported;
  }
  EXPECT_EQ(exported, 3);
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

}  // namespace
}  // namespace kestrav
