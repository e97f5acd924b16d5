#include "engine/sample_loader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/host/errors.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

class SampleLoaderTest : public ::testing::Test {
 protected:
  // Loads with `count` asked for; returns the pair and the lowered count.
  SamplePair load(int count, int centreLag, int lagCount, int* lowered = nullptr) {
    SearchParameters parameters;
    parameters.sampleCount = count;
    SamplePair pair =
        loadSamplePair(first_.c_str(), second_.c_str(), parameters, centreLag, lagCount);
    if (lowered != nullptr) *lowered = parameters.sampleCount;
    return pair;
  }
  std::string failure(int count, int centreLag, int lagCount) {
    try {
      load(count, centreLag, lagCount);
    } catch (const InputError& error) {
      return error.what();
    }
    return "(loaded)";
  }

  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

TEST_F(SampleLoaderTest, Placement) {
  const struct {
    int centreLag, lagCount;
    long long firstStart, secondStart;
  } cases[] = {
      {-50, 100, 100, 0},  // the first file is read from sample 100, the second from 0
      {30, 100, 50, 30},
      {0, 2, 1, 0},
  };
  for (const auto& c : cases) {
    const SegmentPlacement placement = placeSegments(1000, 1000, c.centreLag, c.lagCount);
    EXPECT_EQ(placement.firstStart, c.firstStart);
    EXPECT_EQ(placement.secondStart, c.secondStart);
    // The second segment's sample i + k sits firstLag + k samples after the first's sample i.
    EXPECT_EQ(placement.secondStart - placement.firstStart, c.centreLag - c.lagCount / 2);
  }
}

TEST_F(SampleLoaderTest, ReadsTheSegmentsTheWindowNeeds) {
  testing::writeSamples(first_, testing::indexedSamples(1000));
  testing::writeSamples(second_, testing::indexedSamples(1000, 5000));
  int lowered = 0;
  const SamplePair pair = load(300, -50, 100, &lowered);
  EXPECT_EQ(lowered, 300);
  ASSERT_EQ(pair.first.size(), 300u);
  ASSERT_EQ(pair.second.size(), 400u);
  EXPECT_EQ(pair.first.front().x, 100);
  EXPECT_EQ(pair.first.back().x, 399);
  EXPECT_EQ(pair.first.back().y, -399);
  EXPECT_EQ(pair.second.front().x, 5000);
  EXPECT_EQ(pair.second.back().x, 5399);
}

// The count is lowered to what both files hold (a trailing odd byte ignored), down to an empty
// first segment; one sample fewer is a failure naming the recording. Window: centre 30, 100 lags.
TEST_F(SampleLoaderTest, ShortRecordings) {
  const struct {
    std::size_t firstBytes, secondBytes;
    int lowered;
    std::string failure;  // after "the <first|second> recording '<path>'"
  } cases[] = {
      {4001, 700 * 4, 570, ""},  // 1000 - 50 and 700 - 100 - 30
      {4000, 130 * 4, 0, ""},    // exactly start2 + lagCount
      {4000, 129 * 4, 0, " holds 129 samples; the delay window needs at least 130"},
      {49 * 4, 4000, 0, " holds 49 samples; the delay window needs at least 50"},
  };
  for (const auto& c : cases) {
    testing::writeBytes(first_, std::string(c.firstBytes, '\1'));
    testing::writeBytes(second_, std::string(c.secondBytes, '\1'));
    if (!c.failure.empty()) {
      const bool first = c.firstBytes < 4000;
      EXPECT_EQ(failure(100000, 30, 100), std::string("the ") + (first ? "first" : "second") +
                                              " recording '" + (first ? first_ : second_) + "'" +
                                              c.failure);
      continue;
    }
    int lowered = -1;
    const SamplePair pair = load(100000, 30, 100, &lowered);
    EXPECT_EQ(lowered, c.lowered);
    EXPECT_EQ(pair.first.size(), static_cast<std::size_t>(c.lowered));
    EXPECT_EQ(pair.second.size(), static_cast<std::size_t>(c.lowered) + 100);
  }
  first_ = scratch_.path("absent.iq").string();
  EXPECT_EQ(failure(500, 30, 100),
            "cannot open the first recording '" + first_ + "': No such file or directory");
}

// Recordings of several GiB are ordinary: sizes and offsets are 64-bit.
TEST_F(SampleLoaderTest, ReadsBeyondTwoGibibytes) {
  const long long samples = 750'000'000;  // 3 GB, sparse
  const long long marker = 600'000'000;   // a sample at byte offset 2.4e9
  const int fd = ::open(second_.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const short2 markerSample{1234, -4321};
  ASSERT_EQ(::pwrite(fd, &markerSample, sizeof markerSample, marker * 4), 4);
  ASSERT_EQ(::ftruncate(fd, samples * 4), 0);
  ::close(fd);
  testing::writeSamples(first_, testing::indexedSamples(1000));
  // The second segment starts at centreLag, 10 samples before the marker.
  const int centreLag = static_cast<int>(marker) - 10;
  const SamplePair pair = load(100, centreLag, 2);
  ASSERT_EQ(pair.second.size(), 102u);
  EXPECT_EQ(pair.second[10].x, 1234);
  EXPECT_EQ(pair.second[10].y, -4321);
  EXPECT_EQ(pair.second[11].x, 0);
}

}  // namespace
}  // namespace kestrav
