// What the people-facing outputs cost beside a search: the lag surface as CSV written to a file,
// and the progress line's updates (to /dev/null: the terminal's own drawing is not ours). Compare
// with the coarse search of host_bench's workload (i), 2048 lags: 0.175 s on the reference machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/file_output.hpp"
#include "app/progress_line.hpp"
#include "app/surface_csv.hpp"

namespace {

kestrav::SearchOutcome surfaceOf(int lags) {
  kestrav::SearchOutcome outcome;
  outcome.window.firstLag = -lags / 2;
  outcome.window.lagCount = lags;
  for (int k = 0; k < lags; ++k) {
    outcome.surface.push_back({k, 1234.5678 * (k % 7 - 3), 10.0 + (k % 13) * 0.731});
  }
  return outcome;
}

void SurfaceExport(benchmark::State& state) {
  const kestrav::SearchOutcome outcome = surfaceOf(static_cast<int>(state.range(0)));
  const std::string path =
      (std::filesystem::temp_directory_path() / "kestrav-surface-bench.csv").string();
  for (auto _ : state) {
    kestrav::writeFileAtomically(path, kestrav::formatSurfaceCsv(outcome, 2.048e6),
                                 "the lag surface");
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(SurfaceExport)->Arg(2048)->Arg(4000)->Unit(benchmark::kMicrosecond);

// One update per group of 32 lags, as the host search calls it.
void ProgressUpdates(benchmark::State& state) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  const int lags = static_cast<int>(state.range(0));
  for (auto _ : state) {
    kestrav::ProgressLine line(sink, lags);
    for (int done = 32; done <= lags; done += 32) line.update(done);
  }
  std::fclose(sink);
}
BENCHMARK(ProgressUpdates)->Arg(2048)->Arg(4000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
