#include <cmath>

#include "backends/reference/reference_paths.hpp"
#include "stages/fine/czt.hpp"

namespace kestrav {

// Every term's phase and the sums in long double, so that the reference stays well below the
// rounding of the double-precision paths it checks.
void cztReference(const double2* x, int N, double2* out, int M, double step, double start) {
  if (N < 1) return;
  for (int k = 0; k < M; ++k) {
    const long double frequency =
        static_cast<long double>(start) - static_cast<long double>(k) * step;
    long double re = 0.0L;
    long double im = 0.0L;
    for (int n = 0; n < N; ++n) {
      const long double phase = -static_cast<long double>(n) * frequency;
      const long double c = std::cos(phase);
      const long double s = std::sin(phase);
      re += x[n].x * c - x[n].y * s;
      im += x[n].x * s + x[n].y * c;
    }
    out[k] = double2{static_cast<double>(re), static_cast<double>(im)};
  }
}

}  // namespace kestrav
