// The host path of the coarse search against the plain reference on full-range int16 input: the
// lane kernels' rows bit for bit, the vectorised spectrum reduction, and the cells of whole
// searches over shapes that leave groups and vectors partly filled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "tdc/coarse_lanes.hpp"
#include "tdc/coarse_row.hpp"
#include "tdc/coarse_search.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;

enum class Values { FullRange, Extremes, MostNegative };

std::vector<short2> samples(int count, Values values, std::mt19937& random) {
  std::uniform_int_distribution<int> fullRange(-32768, 32767);
  const short extremes[] = {-32768, -32767, 32767, 32766, 0, 1, -1};
  std::uniform_int_distribution<int> pick(0, 6);
  const auto component = [&]() -> short {
    switch (values) {
      case Values::FullRange: return static_cast<short>(fullRange(random));
      case Values::Extremes: return extremes[pick(random)];
      case Values::MostNegative: break;
    }
    return -32768;
  };
  std::vector<short2> out(static_cast<std::size_t>(count));
  for (short2& s : out) {
    s.x = component();
    s.y = component();
  }
  return out;
}

struct Shape {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
  Values values;
};

const Shape LaneShapes[] = {
    {"N below 1024, D = 1, fewer lags than a vector", 700, 20000.0, 5, Values::FullRange},
    {"D = 1, N and lags not multiples of the lanes", 1003, 20000.0, 37, Values::Extremes},
    {"D = 1 over several converted chunks", 6000, 20000.0, 20, Values::FullRange},
    {"D = 2", 5000, 40000.0, 16, Values::FullRange},
    {"D = 3, one lag", 3001, 3 * Span + 5, 1, Values::Extremes},
    {"D = 61", 30001, 61 * Span + 100, 70, Values::FullRange},
    {"D = 125, a full group of 32 and one lag more", 100003, 2048000.0, 33, Values::Extremes},
    {"D = 125, every component -32768", 4000, 2048000.0, 64, Values::MostNegative},
    {"D = 200: a tree taller than the registers hold", 20000, 200 * Span, 17, Values::FullRange},
    {"D = 1000", 9000, 1000 * Span, 40, Values::Extremes},
};

struct Recordings {
  std::vector<short2> first, second;

  Recordings(const Shape& shape, unsigned seed) {
    std::mt19937 random(seed);
    first = samples(shape.sampleCount, shape.values, random);
    second = samples(shape.sampleCount + shape.lagCount, shape.values, random);
  }
  CoarseRequest request(const Shape& shape) const {
    CoarseRequest request;
    request.first = first;
    request.second = second;
    request.sampleCount = shape.sampleCount;
    request.lagCount = shape.lagCount;
    request.sampleRate = shape.sampleRate;
    request.frequencySpan = Span;
    return request;
  }
};

TEST(CoarseLanes, RowsAreBitIdenticalToTheReference) {
  for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
    if (!instructionSetAvailable(set)) {
      std::printf("AVX-512 is not available here: its kernel is not tested\n");
      continue;
    }
    const int lanes = lagsPerLaneGroup(set);
    unsigned seed = 10;
    for (const Shape& shape : LaneShapes) {
      SCOPED_TRACE(::testing::Message() << shape.name << ", " << lanes << " lanes");
      const Recordings recordings(shape, ++seed);
      const CoarseRequest request = recordings.request(shape);
      const CoarseSizes sizes =
          deriveCoarseSizes(shape.sampleCount, shape.sampleRate, shape.lagCount, Span);
      ASSERT_GT(sizes.fftLength, 0u);
      std::vector<float> scratch(laneScratchFloats(sizes.decimation));
      const std::size_t fftLength = sizes.fftLength;
      const std::size_t rowStride = fftLength + 3;  // rows need not be contiguous
      std::vector<float2> products(static_cast<std::size_t>(shape.sampleCount));
      std::vector<float2> expected(fftLength);
      for (int firstLag = 0; firstLag < shape.lagCount; firstLag += lanes) {
        const int rowCount = std::min(lanes, shape.lagCount - firstLag);
        // Dirty rows, so that the zero padding is checked too.
        std::vector<float2> rows(static_cast<std::size_t>(lanes) * rowStride, float2{7, 7});
        formLaneGroupRows(set, request, sizes, firstLag, rowCount, rows.data(), rowStride,
                          scratch);
        for (int r = 0; r < rowCount; ++r) {
          formDecimatedRowReference(request, sizes, firstLag + r, products, expected);
          ASSERT_EQ(std::memcmp(rows.data() + r * rowStride, expected.data(),
                                fftLength * sizeof(float2)),
                    0)
              << "lag " << firstLag + r;
        }
        // Rows past the group's lags are left alone.
        for (std::size_t i = rowCount * rowStride; i < rows.size(); ++i) {
          ASSERT_EQ(rows[i].x, 7.0f);
        }
      }
    }
  }
}

TEST(CoarseLanes, HostCellsMatchTheReference) {
  std::vector<Shape> shapes(std::begin(LaneShapes), std::end(LaneShapes));
  // A row of 262144 points: one lag at a time instead of a lane group.
  shapes.push_back({"L = 262144, row by row", 140000, 16000.0, 3, Values::FullRange});
  unsigned seed = 30;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const Recordings recordings(shape, ++seed);
    const CoarseRequest request = recordings.request(shape);
    std::vector<LagCell> reference(static_cast<std::size_t>(shape.lagCount));
    std::vector<LagCell> host(reference.size());
    coarseSearchReference(request, reference);
    coarseSearchHost(request, host);
    for (std::size_t k = 0; k < host.size(); ++k) {
      EXPECT_EQ(host[k].lagIndex, static_cast<int>(k));
      EXPECT_EQ(host[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
      if (std::isnan(reference[k].level)) {
        EXPECT_TRUE(std::isnan(host[k].level)) << "lag " << k;
      } else {
        EXPECT_NEAR(host[k].level, reference[k].level, 1e-5) << "lag " << k;
      }
    }
  }
}

void expectSameCell(const std::vector<float2>& spectrum, const char* what) {
  const LagCell plain = evaluateSpectrum(spectrum, 3, Span);
  for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
    if (!instructionSetAvailable(set)) continue;
    const LagCell vectorised = evaluateSpectrumVectorised(spectrum, 3, Span, set);
    const int lanes = set == InstructionSet::Avx512 ? 16 : 8;
    EXPECT_EQ(vectorised.lagIndex, 3) << what << ", " << lanes << " lanes";
    EXPECT_EQ(vectorised.frequencyOffset, plain.frequencyOffset) << what << ", " << lanes;
    if (std::isnan(plain.level)) {
      EXPECT_TRUE(std::isnan(vectorised.level)) << what << ", " << lanes << " lanes";
    } else {
      EXPECT_NEAR(vectorised.level, plain.level, 1e-6) << what << ", " << lanes << " lanes";
    }
  }
}

TEST(EvaluateSpectrumVectorised, SameCellAsThePlainReduction) {
  std::mt19937 random(50);
  std::normal_distribution<float> normal(0.0f, 1e6f);
  for (const std::size_t length : {1u, 2u, 4u, 8u, 16u, 64u, 1024u, 16384u}) {
    std::vector<float2> spectrum(length);
    for (float2& bin : spectrum) bin = float2{normal(random), normal(random)};
    expectSameCell(spectrum, "random");
    const std::vector<float2> zeros(length, float2{0.0f, 0.0f});
    expectSameCell(zeros, "all zero");
  }
}

TEST(EvaluateSpectrumVectorised, OfEqualPeaksTheLowerBinWins) {
  // Pairs of bins that land in every combination of vector lanes and halves; (3, 4), (0, 5) and
  // (-4, 3) all have power 25.
  const struct {
    std::size_t low, high;
  } pairs[] = {{1, 2}, {2, 1}, {5, 2}, {6, 3}, {0, 7}, {4, 12}, {9, 13}, {3, 11}, {14, 15},
               {30, 17}, {62, 63}, {5, 21}, {0, 32}, {40, 8}};
  for (const auto& pair : pairs) {
    std::vector<float2> spectrum(64, float2{0.5f, 0.0f});
    spectrum[pair.low] = float2{3.0f, 4.0f};
    spectrum[pair.high] = float2{0.0f, 5.0f};
    spectrum[(pair.low + pair.high + 32) % 64] = float2{-4.0f, 3.0f};
    expectSameCell(spectrum, "equal peaks");
  }
}

}  // namespace
}  // namespace kestrav
