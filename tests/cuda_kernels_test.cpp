// Every kernel against its host map on the same seeded inputs. Exact where the arithmetic is
// exact; the kernels with a sine and a cosine within 1e-15 per unit of the values they rotate
// (about 4.5 ulp of 1): the device's double-precision sin and cos are within 2 ulp, glibc's
// within 1.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "backends/cuda/coarse_kernels.hpp"
#include "backends/cuda/czt_kernels.hpp"
#include "backends/cuda/fine_kernels.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/signal_maps.hpp"
#include "stages/fine/czt_maps.hpp"
#include "stages/fine/signal_maps_double.hpp"
#include "support/cuda_device.hpp"

namespace kestrav {
namespace {

using testing::DeviceArray;

std::vector<short2> randomSamples(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> component(-32768, 32767);
  std::vector<short2> samples(count);
  for (short2& s : samples) {
    s = short2{static_cast<short>(component(random)), static_cast<short>(component(random))};
  }
  return samples;
}

std::vector<double2> randomValues(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-8, 8);
  std::vector<double2> values(count);
  for (double2& v : values) {
    v = double2{std::ldexp(mantissa(random), exponent(random)),
                std::ldexp(mantissa(random), exponent(random))};
  }
  return values;
}

std::vector<float2> randomFloats(std::size_t count, unsigned seed) {
  std::vector<float2> values;
  for (const double2& v : randomValues(count, seed)) {
    values.push_back(float2{static_cast<float>(v.x), static_cast<float>(v.y)});
  }
  return values;
}

bool same(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}
bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Counts the elements that differ by more than `tolerance` times the scale of the element
// (exact comparison of the bits when the tolerance is 0), and reports the first.
template <class Complex>
::testing::AssertionResult agree(const std::vector<Complex>& got, const std::vector<Complex>& want,
                                 double tolerance, double scale = 1.0) {
  std::size_t differing = 0;
  std::size_t first = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const bool equal = tolerance == 0.0 ? same(got[i].x, want[i].x) && same(got[i].y, want[i].y)
                                        : std::fabs(got[i].x - want[i].x) <= tolerance * scale &&
                                              std::fabs(got[i].y - want[i].y) <= tolerance * scale;
    if (!equal && differing++ == 0) first = i;
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << differing << " of " << want.size() << " elements differ; first at " << first
         << ": got (" << got[first].x << ", " << got[first].y << "), want (" << want[first].x
         << ", " << want[first].y << ")";
}

// Lengths at the launch rule's edges: one element, a tail alone, whole blocks, a tail with
// whole blocks.
const int Lengths[] = {1, 1023, 1024, 1025, 3000, 70001};

// A double-precision kernel: what it does on the device and what its map gives on the host,
// from the same inputs (a: samples, b and c: values), over n elements of output.
struct DoubleCase {
  const char* name;
  double tolerance;  // absolute, per unit of the output's scale
  double scale;
  std::function<void(const short2* a, double2* b, double2* c, int n)> device;
  std::function<void(const std::vector<short2>& a, std::vector<double2>& b, std::vector<double2>& c,
                     int n)>
      host;
  int outputsPerInput = 1;  // frame layouts write two outputs' room per input
};

TEST(CudaKernels, DoublePrecisionKernelsFollowTheirMaps) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const double w = -2.0 * 3.141592653589793 * 1234.5 / 1e6;
  const DoubleCase cases[] = {
      {"BuildSignal_df", 1e-15, 65536.0,
       [w](const short2* a, double2*, double2* c, int n) { BuildSignal_df(a, c, n, w); },
       [w](const auto& a, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = shiftFrequency(a[i], i, w);
       }},
      {"BuildZeroDfSig_d", 1e-15, 65536.0,
       [w](const short2* a, double2*, double2* c, int n) { BuildZeroDfSig_d(a, c, n, 1024, w); },
       [w](const auto& a, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[frameIndex(i, 1024)] = shiftFrequency(a[i], i, w);
       },
       2},
      {"SegmentCopy_d", 0.0, 1.0,
       [](const short2* a, double2*, double2* c, int n) { SegmentCopy_d(a, c, n, 2048); },
       [](const auto& a, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[frameIndex(i, 2048)] = toDouble2(a[i]);
       },
       2},
      {"Sig_Conj_Mul_inout_d", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Conj_Mul_inout_d(c, b, n); },
       [](const auto&, auto& b, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = conjugateProduct(c[i], b[i]);
       }},
      {"Sig_Conj_Mul_SDD", 0.0, 1.0,
       [](const short2* a, double2*, double2* c, int n) { Sig_Conj_Mul_SDD(a, c, n); },
       [](const auto& a, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = conjugateProduct(a[i], c[i]);
       }},
      {"Sig_Add_d mode 0 (rows)", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Add_d(b, c, 3, n / 3, 0); },
       [](const auto&, auto& b, auto& c, int n) {
         for (int i = 0; i < n / 3; ++i) accumulateRows(b.data(), c.data(), i, 3, n / 3);
       }},
      {"Sig_Add_d mode 1 (runs)", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Add_d(b, c, 3, n / 3, 1); },
       [](const auto&, auto& b, auto& c, int n) {
         for (int i = 0; i < n / 3; ++i) accumulateRun(b.data(), c.data(), i, 3);
       }},
      {"Sig_Add_d without terms", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Add_d(b, c, 0, n, 1); },
       [](const auto&, auto&, auto&, int) {}},
      {"Sig_Div_inout_d", 0.0, 1.0,
       [](const short2*, double2*, double2* c, int n) { Sig_Div_inout_d(c, n, 4096.0 / 3.0); },
       [](const auto&, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = divide(c[i], 4096.0 / 3.0);
       }},
      {"Sig_Abs_inout_d", 0.0, 1.0,
       [](const short2*, double2*, double2* c, int n) { Sig_Abs_inout_d(c, n); },
       [](const auto&, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = power(c[i]);
       }},
      {"Sig_Reverse_Centre_d", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) {
         Sig_Reverse_Centre_d(b, c, n, n / 2, 4096.0);
       },
       [](const auto&, auto& b, auto& c, int n) {
         for (int m = 0; m < n; ++m) c[m] = divide(b[(n / 2 - m + n) % n], 4096.0);
       }},
      {"CztInitAA", 1e-15, 1.0,
       [](const short2*, double2*, double2* c, int n) { CztInitAA(c, n, 0.0123456789); },
       [](const auto&, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = cztRamp(i, 0.0123456789);
       }},
      {"CztInitWW", 1e-15, 1.0,
       [](const short2*, double2*, double2* c, int n) { CztInitWW(c, n, 1 - n / 2, -3.1e-6, -1); },
       [](const auto&, auto&, auto& c, int n) {
         for (int i = 0; i < n; ++i) c[i] = cztChirp(i + 1 - n / 2, -3.1e-6, -1);
       }},
      {"Sig_Mul_inout", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Mul_inout(c, b, n); },
       [](const auto&, auto& b, auto& c, int n) {
         for (int i = 0; i < n; ++i) multiplyInPlace(c[i], b[i]);
       }},
      {"Sig_Mul", 0.0, 1.0,
       [](const short2*, double2* b, double2* c, int n) { Sig_Mul(b, b + n, c, n); },
       [](const auto&, auto& b, auto& c, int n) {
         for (int i = 0; i < n; ++i) multiplyInto(c[i], b[i], b[n + i]);
       }},
  };
  for (const DoubleCase& c : cases) {
    for (const int n : Lengths) {
      const auto size = static_cast<std::size_t>(n);
      const std::vector<short2> a = randomSamples(size, 21);
      std::vector<double2> b = randomValues(2 * size, 22);  // Sig_Mul reads two arrays from b
      // Outputs start as values the kernels must keep where they write nothing.
      std::vector<double2> out = randomValues(size * c.outputsPerInput, 23);
      const DeviceArray<short2> deviceA(a);
      const DeviceArray<double2> deviceB(b);
      DeviceArray<double2> deviceOut(out);
      c.device(deviceA.get(), deviceB.get(), deviceOut.get(), n);
      c.host(a, b, out, n);
      EXPECT_TRUE(agree(deviceOut.download(), out, c.tolerance, c.scale)) << c.name << ", n " << n;
    }
  }
}

// The two launch passes of a range beyond 65535 blocks, one kernel of each kind: offset
// (SegmentCopy_d) and moved pointers (Sig_Abs_inout).
TEST(CudaKernels, RangesBeyond65535BlocksTakeASecondPass) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const int n = 1024 * 65535 + 1;
  const auto size = static_cast<std::size_t>(n);
  const std::vector<short2> samples = randomSamples(size, 24);
  std::vector<double2> frames(2 * size, double2{0.0, 0.0});
  const DeviceArray<short2> deviceSamples(samples);
  DeviceArray<double2> deviceFrames(frames);
  SegmentCopy_d(deviceSamples.get(), deviceFrames.get(), n, 4096);
  for (int i = 0; i < n; ++i) frames[frameIndex(i, 4096)] = toDouble2(samples[i]);
  EXPECT_TRUE(agree(deviceFrames.download(), frames, 0.0));

  std::vector<float2> values = randomFloats(size, 25);
  DeviceArray<float2> deviceValues(values);
  Sig_Abs_inout(deviceValues.get(), n);
  for (float2& v : values) v = powerOf(v);
  EXPECT_TRUE(agree(deviceValues.download(), values, 0.0));
}

TEST(CudaKernels, LagProductAndPowerFollowTheirMaps) {
  SKIP_WITHOUT_CUDA_DEVICE();
  for (const int n : Lengths) {
    const auto size = static_cast<std::size_t>(n);
    const int offset = 17;
    const std::vector<short2> a = randomSamples(size, 31);
    const std::vector<short2> b = randomSamples(size + offset, 32);
    const DeviceArray<short2> deviceA(a);
    const DeviceArray<short2> deviceB(b);
    DeviceArray<float2> deviceOut(size);
    Sig_Conj(deviceA.get(), deviceB.get(), offset, deviceOut.get(), n);
    std::vector<float2> products(size);
    for (std::size_t i = 0; i < size; ++i) {
      products[i] = conjugateProduct(toFloat2(a[i]), toFloat2(b[i + offset]));
    }
    const std::vector<float2> got = deviceOut.download();
    EXPECT_TRUE(agree(got, products, 0.0)) << "Sig_Conj, n " << n;

    Sig_Abs_inout(deviceOut.get(), n);
    for (float2& v : products) v = powerOf(v);
    EXPECT_TRUE(agree(deviceOut.download(), products, 0.0)) << "Sig_Abs_inout, n " << n;
  }
}

TEST(CudaKernels, DecimationSumsInTheReductionOrder) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const struct {
    int n, outputs;
  } cases[] = {{1, 70000}, {2, 5},    {3, 1000}, {125, 8388},
               {1024, 3},  {1025, 3}, {3000, 7}, {5000, 2}};
  for (const auto& c : cases) {
    const std::size_t values = static_cast<std::size_t>(c.n) * c.outputs;
    std::vector<float2> data = randomFloats(values, 41);
    DeviceArray<float2> deviceData(data);
    DeviceArray<float2> deviceOut(static_cast<std::size_t>(c.outputs));
    Complex_Comp_ex(c.n, deviceData.get(), deviceOut.get(), c.outputs);
    std::vector<float2> sums(static_cast<std::size_t>(c.outputs));
    for (int g = 0; g < c.outputs; ++g) {
      sums[g] = decimateGroup(&data[static_cast<std::size_t>(g) * c.n], c.n);
    }
    EXPECT_TRUE(agree(deviceOut.download(), sums, 0.0)) << "n " << c.n;
  }
}

// The batched rows against rows formed lag by lag with the same maps: the products of the whole
// decimated range, each group summed in the single-lag order, the row's tail left alone.
TEST(CudaKernels, BatchedRowsEqualTheSingleLagRows) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const struct {
    int decimation, decimatedLength, lags, firstLag;
    std::int64_t rowLength;
  } cases[] = {{1, 1000, 5, 0, 1024}, {3, 700, 4, 2, 1024},    {125, 8388, 3, 7, 16384},
               {1024, 33, 3, 1, 64},  {1500, 20, 2, 0, 32},    {3000, 9, 3, 5, 16},
               {5000, 4, 2, 1, 4},    {1, 70000, 2, 0, 131072}};
  for (const auto& c : cases) {
    const std::size_t span = static_cast<std::size_t>(c.decimation) * c.decimatedLength;
    const std::vector<short2> first = randomSamples(span, 51);
    const std::vector<short2> second = randomSamples(span + c.firstLag + c.lags, 52);
    const float2 untouched{-7.5f, 3.25f};
    std::vector<float2> rows(static_cast<std::size_t>(c.rowLength) * c.lags, untouched);
    const DeviceArray<short2> deviceFirst(first);
    const DeviceArray<short2> deviceSecond(second);
    DeviceArray<float2> deviceRows(rows);
    Sig_Conj_Comp_batch(deviceFirst.get(), deviceSecond.get(), c.firstLag, c.lags, c.decimation,
                        c.decimatedLength, deviceRows.get(), c.rowLength);
    std::vector<float2> group(static_cast<std::size_t>(c.decimation));
    for (int z = 0; z < c.lags; ++z) {
      for (int g = 0; g < c.decimatedLength; ++g) {
        for (int u = 0; u < c.decimation; ++u) {
          const std::size_t i = static_cast<std::size_t>(g) * c.decimation + u;
          group[u] = conjugateProduct(toFloat2(first[i]), toFloat2(second[i + c.firstLag + z]));
        }
        rows[z * c.rowLength + g] = decimateGroup(group.data(), c.decimation);
      }
    }
    EXPECT_TRUE(agree(deviceRows.download(), rows, 0.0)) << "D " << c.decimation;
  }
}

// The row reduction against the host's evaluation of a spectrum: the same first strongest bin
// and its power exactly, the norm to the rounding of a float (the sums of squares are added in
// another order).
TEST(CudaKernels, RowPeaksFollowTheHostEvaluation) {
  SKIP_WITHOUT_CUDA_DEVICE();
  for (const std::int64_t rowLength : {1, 7, 1000, 65536, 70001}) {
    const int rowCount = 4;
    std::vector<float2> rows = randomFloats(static_cast<std::size_t>(rowLength) * rowCount, 61);
    // Row 1: three equal strongest bins, two in one thread's stride and one in another's.
    if (rowLength >= 1000) {
      rows[rowLength + 300] = float2{-1000.0f, 1000.0f};
      rows[rowLength + 556] = float2{1000.0f, -1000.0f};
      rows[rowLength + 700] = float2{1000.0f, 1000.0f};
    }
    // Row 2: all zero.
    std::fill(rows.begin() + 2 * rowLength, rows.begin() + 3 * rowLength, float2{0.0f, 0.0f});
    const DeviceArray<float2> deviceRows(rows);
    DeviceArray<RowPeak> devicePeaks(static_cast<std::size_t>(rowCount));
    Spectrum_Peak_batch(deviceRows.get(), rowLength, rowCount, devicePeaks.get());
    const std::vector<RowPeak> peaks = devicePeaks.download();
    for (int r = 0; r < rowCount; ++r) {
      const std::span<const float2> row(rows.data() + r * rowLength,
                                        static_cast<std::size_t>(rowLength));
      const LagCell host = evaluateSpectrum(row, r, static_cast<double>(rowLength));
      const RowPeak& peak = peaks[r];
      EXPECT_EQ(binFrequency(static_cast<std::uint64_t>(peak.index), rowLength,
                             static_cast<double>(rowLength)),
                host.frequencyOffset)
          << "row " << r << ", length " << rowLength;
      EXPECT_EQ(peak.power, powerOf(row[static_cast<std::size_t>(peak.index)]).x);
      const double level = lagLevel(peak.power, peak.norm, static_cast<std::uint64_t>(rowLength));
      if (std::isnan(host.level)) {
        EXPECT_TRUE(std::isnan(level)) << "an all-zero row has no level";
      } else {
        EXPECT_NEAR(level, host.level, 1e-5) << "row " << r << ", length " << rowLength;
      }
    }
    if (rowLength >= 1000) {
      EXPECT_EQ(peaks[1].index, 300) << "the lower of equal bins";
    }
  }
}

}  // namespace
}  // namespace kestrav
