#pragma once
// Coarse-search recordings of a chosen shape: random int16 values across the full range, at the
// extremes, all -32768, or fractional floats no int16 holds; and the shapes the host's paths are
// checked on against the reference.
#include <random>
#include <vector>

#include "stages/coarse/coarse_search.hpp"

namespace kestrav::testing::coarse {

constexpr double Span = 16384.0;

enum class Values { FullRange, Extremes, MostNegative, Fractional };

struct Shape {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
  Values values = Values::FullRange;
};

// N samples of the first recording and N + lagCount of the second, as int16 or as floats.
struct Recordings {
  Shape shape;
  std::vector<short2> first, second;
  std::vector<float2> firstFloat, secondFloat;

  CoarseRequest request() const {
    CoarseRequest request{SpanPair<short2>{first, second},
                          shape.sampleCount,
                          shape.lagCount,
                          shape.sampleRate,
                          Span,
                          {}};
    if (!firstFloat.empty()) request.segments = SpanPair<float2>{firstFloat, secondFloat};
    return request;
  }
};

inline Recordings randomRecordings(const Shape& shape, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> fullRange(-32768, 32767), pick(0, 6);
  const short extremes[] = {-32768, -32767, 32767, 32766, 0, 1, -1};
  // Fractional values no int16 holds: beyond 32767, and tiny in every fifth sample.
  std::uniform_real_distribution<float> wide(-70000.0f, 70000.0f), tiny(-1e-3f, 1e-3f);
  const auto component = [&]() -> short {
    switch (shape.values) {
      case Values::Extremes:
        return extremes[pick(random)];
      case Values::MostNegative:
        return -32768;
      default:
        return static_cast<short>(fullRange(random));
    }
  };
  Recordings r{shape, {}, {}, {}, {}};
  for (const int count : {shape.sampleCount, shape.sampleCount + shape.lagCount}) {
    if (shape.values == Values::Fractional) {
      auto& out = r.firstFloat.empty() ? r.firstFloat : r.secondFloat;
      for (int i = 0; i < count; ++i) {
        out.push_back(i % 5 == 4 ? float2{tiny(random), tiny(random)}
                                 : float2{wide(random), wide(random)});
      }
    } else {
      auto& out = r.first.empty() ? r.first : r.second;
      for (int i = 0; i < count; ++i) out.push_back(short2{component(), component()});
    }
  }
  return r;
}

// Shapes that leave decimation groups, lane groups, vectors and conversion chunks partly filled.
inline const Shape HostShapes[] = {
    {"N below 1024, D = 1, fewer lags than a vector", 700, 20000.0, 5},
    {"D = 1, N and lags not multiples of the lanes", 1003, 20000.0, 37, Values::Extremes},
    {"D = 1 over several converted chunks", 6000, 20000.0, 20},
    {"D = 2", 5000, 40000.0, 16},
    {"D = 2, M = L: no padding", 4096, 40000.0, 64},
    {"D = 3, one lag", 3001, 3 * Span + 5, 1, Values::Extremes},
    {"D = 61", 30001, 61 * Span + 100, 70},
    {"D = 125, M = 40: groups with a short tail", 5000, 2048000.0, 37},
    {"D = 125, a full group of 32 and one lag more", 100003, 2048000.0, 33, Values::Extremes},
    {"D = 125, every component -32768", 4000, 2048000.0, 64, Values::MostNegative},
    {"D = 125, M = 1, L = 1", 200, 2048000.0, 3},
    {"D = 200: a tree taller than the registers hold", 20000, 200 * Span, 17},
    {"D = 1000", 9000, 1000 * Span, 40, Values::Extremes},
    {"L = 262144: host cells row by row", 140000, 16000.0, 3},
    {"floats, D = 1, lags not a multiple of the lanes", 1003, 20000.0, 37, Values::Fractional},
    {"floats, D = 3 over several converted chunks", 9001, 49152.0, 20, Values::Fractional},
    {"floats, D = 125, a group of 32 and one lag more", 100003, 2048000.0, 33, Values::Fractional},
    {"floats, D = 200: a taller tree", 20000, 200 * Span, 17, Values::Fractional},
};

}  // namespace kestrav::testing::coarse
