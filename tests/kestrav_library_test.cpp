// The shared library as another program sees it: one exported C function and nothing else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "engine/kestrav.h"
#include "support/test_files.hpp"

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
    EXPECT_TRUE(name == "Kestrav" || name == "KestravSearchSamples")
        << "unexpected export " << type << " " << name;
    ++exported;
  }
  EXPECT_EQ(exported, 2);
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

TEST_F(KestravEntry, SearchesLoadableRecordings) {
  SearchResult results[MaxResults];
  int count = -7;
  EXPECT_TRUE(call(results, &count, first_.c_str(), second_.c_str()));
  EXPECT_GE(count, 0);
  EXPECT_LE(count, MaxResults);
}

// Every unusable call returns false and leaves the results and the count as they were.
TEST_F(KestravEntry, RefusesUnusableArgumentsWithoutTouchingTheOutputs) {
  const std::string absent = scratch_.path("absent.iq").string();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  SearchResult results[MaxResults];
  for (SearchResult& result : results) result = {1.0, 2.0, 3.0};
  int count = 42;
  EXPECT_FALSE(call(results, &count, first_.c_str(), absent.c_str()));
  EXPECT_FALSE(call(nullptr, &count, first_.c_str(), second_.c_str()));
  EXPECT_FALSE(call(results, nullptr, first_.c_str(), second_.c_str()));
  EXPECT_FALSE(call(results, &count, nullptr, second_.c_str()));
  EXPECT_FALSE(call(results, &count, first_.c_str(), nullptr));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 0));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), -100));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 4000, 0.0));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 4000, nan));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 4000, 1e6, -1e-4));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 4000, 1e6, 1e-4, nan));
  EXPECT_FALSE(call(results, &count, first_.c_str(), second_.c_str(), 4000, 1e300, 1e300));
  // A count that lives inside the result array would be overwritten by a result.
  EXPECT_FALSE(call(results, reinterpret_cast<int*>(&results[3].level), first_.c_str(),
                    second_.c_str()));
  EXPECT_EQ(count, 42);
  for (const SearchResult& result : results) {
    EXPECT_EQ(result.delay, 1.0);
    EXPECT_EQ(result.frequencyOffset, 2.0);
    EXPECT_EQ(result.level, 3.0);
  }
}

}  // namespace
}  // namespace kestrav
