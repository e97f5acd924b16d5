// host_bench: the host backend on the workloads it is sized for. Each workload is checked first
// (the coarse cells against the reference on a subset of lags; the refinement's zoom points
// against the reference path where the direct sum is affordable, else against the whole-zoom
// Bluestein path), then timed (median of several runs), and then the kestrav program runs on
// files of the workload for its peak resident memory.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "bench/seconds_of.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

extern char** environ;

namespace kestrav {
namespace {

// Of both cores: FP32 fused multiply-adds; FP64 runs at half the rate.
constexpr double PeakFlops32 = 210e9;
constexpr double PeakFlops64 = PeakFlops32 / 2;
constexpr double Span = 16384.0;

// ---- measuring ----------------------------------------------------------------------------

struct Timing {
  double median = 0.0;
  double fastest = 0.0;
};

template <class Work>
Timing timeRuns(int runs, Work&& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) times.push_back(secondsOf(work));
  std::sort(times.begin(), times.end());
  return Timing{times[times.size() / 2], times.front()};
}

std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

struct ProgramRun {
  int status = -1;
  double seconds = 0.0;
  double peakMiB = 0.0;
  std::string output;
};

// Runs `program` with the arguments and standard output into `outputPath`; false when it cannot
// be started.
bool spawnAndWait(const char* program, std::vector<std::string> arguments,
                  const std::string& outputPath, int& status, rusage& usage) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const bool started = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started && wait4(pid, &status, 0, &usage) == pid;
}

// The launcher: runs kestrav with the arguments after "--measure <output>", and prints its exit
// status, seconds and peak resident kilobytes. It is a process of its own because Linux charges
// a program started from a large process with that process's peak memory.
int measureProgram(int argc, char** argv) {
  int status = 0;
  rusage usage{};
  const auto start = std::chrono::steady_clock::now();
  const bool ran = spawnAndWait(KESTRAV_PROGRAM, std::vector<std::string>(argv + 3, argv + argc),
                                argv[2], status, usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d %.6f %ld\n", ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds,
              usage.ru_maxrss);
  return 0;
}

ProgramRun runProgram(const std::vector<std::string>& arguments,
                      const std::filesystem::path& directory) {
  std::vector<std::string> launcherArguments{"--measure", (directory / "output.txt").string()};
  launcherArguments.insert(launcherArguments.end(), arguments.begin(), arguments.end());
  int status = 0;
  rusage usage{};
  ProgramRun run;
  if (!spawnAndWait("/proc/self/exe", launcherArguments, (directory / "measured.txt").string(),
                    status, usage)) {
    return run;
  }
  long peakKiB = 0;
  std::ifstream measured(directory / "measured.txt");
  measured >> run.status >> run.seconds >> peakKiB;
  run.peakMiB = static_cast<double>(peakKiB) / 1024.0;
  std::ifstream output(directory / "output.txt");
  std::getline(output, run.output);
  return run;
}

void writeSamples(const std::filesystem::path& path, const std::vector<short2>& samples) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size() * sizeof(short2)));
}

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The kestrav program on the pair written to files: the window centred on zero with exactly
// lagCount lags, so that the program searches the very segments the benchmark did; the first
// file is padded at the front by the half window the loader skips.
void reportProgram(const std::vector<short2>& first, const std::vector<short2>& second,
                   int sampleCount, double sampleRate, int lagCount) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("host_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  std::vector<short2> padded(static_cast<std::size_t>(lagCount / 2), short2{0, 0});
  padded.insert(padded.end(), first.begin(), first.end());
  writeSamples(directory / "first.iq", padded);
  writeSamples(directory / "second.iq", second);
  const double windowUs = (lagCount - 0.5) / sampleRate * 1e6;
  const ProgramRun run =
      runProgram({"-m", (directory / "first.iq").string(), "-a", (directory / "second.iq").string(),
                  "-s", std::to_string(sampleCount), "-f", number(sampleRate), "-c", "0", "-r",
                  number(windowUs), "-j", "0", "-t", "12", "--backend", "host"},
                 directory);
  std::filesystem::remove_all(directory);
  std::printf(
      "  kestrav on files of this workload, refinement included: peak resident %.1f MiB, "
      "%.3f s, exit %d, output %.60s\n",
      run.peakMiB, run.seconds, run.status, run.output.c_str());
}

// ---- the coarse search ----------------------------------------------------------------------

struct CoarseWorkload {
  const char* key;
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
  int trueLag;
  double boundSeconds;  // the workload's compute (or, for (iii), memory) bound
  double targetSeconds;
  int checkedAround;  // lags checked around the true one, besides the first and last two
  int runs;
};

struct Recordings {
  std::vector<short2> first;
  std::vector<short2> second;
};

Recordings generate(int sampleCount, int secondCount, double sampleRate, double delaySamples,
                    double offsetHz, std::uint64_t seed) {
  PairConfig config;
  config.sampleCount = secondCount;
  config.sampleRate = sampleRate;
  config.emitters = {Emitter{delaySamples / sampleRate, offsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = seed;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  pair.first.resize(static_cast<std::size_t>(sampleCount));
  return Recordings{std::move(pair.first), std::move(pair.second)};
}

CoarseRequest coarseRequest(const CoarseWorkload& workload, const Recordings& recordings) {
  CoarseRequest request;
  request.segments = SpanPair<short2>{recordings.first, recordings.second};
  request.sampleCount = workload.sampleCount;
  request.lagCount = workload.lagCount;
  request.sampleRate = workload.sampleRate;
  request.frequencySpan = Span;
  return request;
}

// The reference on the lags [first, first + count): false on any cell that differs. Adds the
// reference's seconds and lags to the totals.
bool checkLags(const CoarseRequest& whole, const std::vector<LagCell>& host, int first, int count,
               double& referenceSeconds, int& referenceLags) {
  CoarseRequest request = whole;
  const auto& samples = std::get<SpanPair<short2>>(whole.segments);
  request.segments =
      SpanPair<short2>{samples.first, samples.second.subspan(static_cast<std::size_t>(first))};
  request.lagCount = count;
  std::vector<LagCell> reference(static_cast<std::size_t>(count));
  referenceSeconds += secondsOf([&] { coarseSearchReference(request, reference); });
  referenceLags += count;
  bool same = true;
  for (int i = 0; i < count; ++i) {
    const LagCell& h = host[static_cast<std::size_t>(first + i)];
    const LagCell& r = reference[static_cast<std::size_t>(i)];
    if (h.frequencyOffset != r.frequencyOffset || !(std::fabs(h.level - r.level) <= 1e-5)) {
      std::printf("  MISMATCH at lag %d: host %.6f Hz %.8f dB, reference %.6f Hz %.8f dB\n",
                  first + i, h.frequencyOffset, h.level, r.frequencyOffset, r.level);
      same = false;
    }
  }
  return same;
}

bool runCoarse(const CoarseWorkload& workload) {
  const CoarseSizes sizes =
      deriveCoarseSizes(workload.sampleCount, workload.sampleRate, workload.lagCount, Span);
  std::printf("\n%s: N = %d at %.0f Hz, %d lags; D = %d, M = %d, L = %llu\n", workload.name,
              workload.sampleCount, workload.sampleRate, workload.lagCount, sizes.decimation,
              sizes.decimatedLength, static_cast<unsigned long long>(sizes.fftLength));
  const Recordings recordings =
      generate(workload.sampleCount, workload.sampleCount + workload.lagCount, workload.sampleRate,
               workload.trueLag + 0.3, -1234.5, 2024);
  const CoarseRequest request = coarseRequest(workload, recordings);

  std::vector<LagCell> cells(static_cast<std::size_t>(workload.lagCount));
  coarseSearchHost(request, cells);
  double referenceSeconds = 0.0;
  int referenceLags = 0;
  const int around = std::max(0, workload.trueLag - workload.checkedAround / 2);
  bool same = checkLags(request, cells, 0, 2, referenceSeconds, referenceLags);
  same =
      checkLags(request, cells, around, workload.checkedAround, referenceSeconds, referenceLags) &&
      same;
  same =
      checkLags(request, cells, workload.lagCount - 2, 2, referenceSeconds, referenceLags) && same;
  if (!same) return false;
  const LagCell strongest =
      *std::max_element(cells.begin(), cells.end(),
                        [](const LagCell& a, const LagCell& b) { return a.level < b.level; });
  std::printf(
      "  checked: %d lags (the first two, %d around the emitter, the last two) have the "
      "reference's bins and levels within 1e-5 dB; strongest lag %d (emitter at %d.3), "
      "%.1f Hz (emitter -1234.5 Hz)\n",
      referenceLags, workload.checkedAround, strongest.lagIndex, workload.trueLag,
      strongest.frequencyOffset);

  const Timing timing = timeRuns(workload.runs, [&] { coarseSearchHost(request, cells); });
  const double seconds = timing.median;
  const double lagSamples = double(workload.lagCount) * workload.sampleCount;
  const double referenceAll = referenceSeconds / referenceLags * workload.lagCount;
  std::printf(
      "  host: %.4f s (median of %d, fastest %.4f s; target %.2f s: %s), %.3g lag x "
      "samples/s, %.2f x the bound of %.3f s\n",
      seconds, workload.runs, timing.fastest, workload.targetSeconds,
      seconds <= workload.targetSeconds ? "met" : "MISSED", lagSamples / seconds,
      seconds / workload.boundSeconds, workload.boundSeconds);
  std::printf("  reference: %.2f ms a lag, %.2f s for all lags: the host is %.1f x faster\n",
              1e3 * referenceSeconds / referenceLags, referenceAll, referenceAll / seconds);
  reportProgram(recordings.first, recordings.second, workload.sampleCount, workload.sampleRate,
                workload.lagCount);
  return true;
}

// ---- the refinement -------------------------------------------------------------------------

struct RefineWorkload {
  const char* key;
  const char* name;
  int sampleCount;
  double sampleRate;
  double targetSeconds;
  int runs;
};

// Where two zooms' peaks lie, and how much weaker the plain zoom finds its point at the
// streamed peak than its own peak (0 when they are the same point).
bool comparePeaks(const char* what, const FineEstimate& streamed, const FineEstimate& plain,
                  const char* plainName) {
  const int offset = streamed.zoomIndex - plain.traceFirst;
  const bool inTrace = offset >= 0 && offset < static_cast<int>(plain.trace.size());
  const double peak = plain.trace[static_cast<std::size_t>(plain.zoomIndex - plain.traceFirst)];
  const double gap = inTrace ? (peak - plain.trace[static_cast<std::size_t>(offset)]) / peak : 1.0;
  const bool agree = streamed.zoomPoints == plain.zoomPoints && inTrace && gap <= 1e-10;
  std::printf(
      "  %s: %d zoom points; streamed peak at %d, %s at %d (%+d points, power %.1e below "
      "the %s peak there)%s\n",
      what, streamed.zoomPoints, streamed.zoomIndex, plainName, plain.zoomIndex,
      streamed.zoomIndex - plain.zoomIndex, gap, plainName, agree ? "" : "  <- DIFFERS");
  return agree;
}

// FFT work of the streamed method in double precision: the delay estimate's 2K frames of 4096
// and each zoom's blocks (two transforms apiece).
double refineBoundSeconds(const FineEstimate& frequency, const FineEstimate& delay, int n) {
  const auto transforms = [](double count, double length) {
    return count * 5.0 * length * std::log2(length);
  };
  const auto zoomFlops = [&](int N, int M) {
    const double shortLength = std::exp2(std::ceil(std::log2(2.0 * N)));
    const double m = shortLength - N + 1;
    if (M <= m) {
      return transforms(2, std::exp2(std::ceil(std::log2(double(N) + M - 1))));
    }
    return transforms(2 * std::ceil(M / m), shortLength);
  };
  const double flops = transforms(2.0 * (n / 2048), 4096) + zoomFlops(2048, frequency.zoomPoints) +
                       zoomFlops(4096, delay.zoomPoints);
  return flops / PeakFlops64;
}

bool runRefine(const RefineWorkload& workload) {
  const int n = workload.sampleCount;
  const double fs = workload.sampleRate;
  const double delay = 0.37 / fs;
  const double offsetHz = 1234.5;
  std::printf("\n(%s) refinement of one candidate, %s\n", workload.key, workload.name);
  const Recordings recordings = generate(n, n, fs, 0.37, offsetHz, 17);
  // The candidate as the coarse search leaves it: a fraction of a bin off in frequency.
  FineRequest request{PointerPair<short2>{recordings.first.data(), recordings.second.data()}, n, fs,
                      offsetHz + 0.3 * fs / std::max(2048, n)};
  request.traceHalfWidth = 8;

  // The frequency zoom against the whole-zoom Bluestein path; the delay zoom (at most 4096
  // points) against the reference path's direct sum.
  FineEstimate frequency = estimateFineFrequencyStreamed(request);
  FineEstimate plainFrequency;
  const double plainFrequencySeconds =
      secondsOf([&] { plainFrequency = estimateFineFrequency(request, cztHost); });
  bool agree = comparePeaks("frequency", frequency, plainFrequency, "whole-zoom Bluestein");
  FineRequest shifted = request;
  shifted.frequencyOffset += frequency.correction;
  FineEstimate delayEstimate = estimateFineDelayStreamed(shifted);
  FineEstimate referenceDelay;
  const double referenceDelaySeconds =
      secondsOf([&] { referenceDelay = estimateFineDelay(shifted, cztReference); });
  agree = comparePeaks("delay", delayEstimate, referenceDelay, "reference") && agree;
  const double plainDelaySeconds = secondsOf([&] { estimateFineDelay(shifted, cztHost); });
  std::printf("  errors against the generated pair: %+.6f Hz, %+.3f ns\n",
              request.frequencyOffset + frequency.correction - offsetHz,
              (delayEstimate.correction - delay) * 1e9);
  if (!agree) return false;

  request.traceHalfWidth = 0;
  const Timing timing = timeRuns(workload.runs, [&] { refineOnHostStreamed(request); });
  const double seconds = timing.median;
  const double bound = refineBoundSeconds(frequency, delayEstimate, n);
  const double zoomPoints = double(frequency.zoomPoints) + delayEstimate.zoomPoints;
  const double plainSeconds = plainFrequencySeconds + plainDelaySeconds;
  std::printf(
      "  host: %.4f s for both estimates (median of %d, fastest %.4f s; target %.2f s: "
      "%s), %.3g zoom points/s, %.2f x the FFT bound of %.4f s\n",
      seconds, workload.runs, timing.fastest, workload.targetSeconds,
      seconds <= workload.targetSeconds ? "met" : "MISSED", zoomPoints / seconds, seconds / bound,
      bound);
  std::printf(
      "  plain host path (whole arrays, whole-zoom Bluestein): %.3f s, %.1f x slower; "
      "reference delay estimate (direct sum): %.3f s\n",
      plainSeconds, plainSeconds / seconds, referenceDelaySeconds);
  // A small window around lag 20: the program's coarse search, then this refinement.
  const int lagCount = 64;
  const Recordings files = generate(n, n + lagCount, fs, 20.37, offsetHz, 18);
  reportProgram(files.first, files.second, n, fs, lagCount);
  return true;
}

}  // namespace
}  // namespace kestrav

// With arguments, only the workloads named (i, ii, iii, r1, r2, r3) run.
int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--measure") return kestrav::measureProgram(argc, argv);
  using kestrav::CoarseWorkload;
  using kestrav::RefineWorkload;
  const std::vector<std::string> chosen(argv + 1, argv + argc);
  const auto wanted = [&](const char* key) {
    return chosen.empty() || std::find(chosen.begin(), chosen.end(), key) != chosen.end();
  };
  std::printf("host_bench: load average %s at the start\n", kestrav::loadAverage().c_str());
  const CoarseWorkload coarse[] = {
      {"i", "(i) coarse search", 1048576, 2048000.0, 2048, 682, 0.087, 0.20, 24, 5},
      {"ii", "(ii) coarse search", 262144, 1000000.0, 4000, 1333, 0.047, 0.10, 24, 5},
      {"iii", "(iii) coarse search", 4194304, 16384.0, 64, 21, 0.21, 2.5, 2, 3},
  };
  const RefineWorkload refine[] = {
      {"r1", "n = 1048576 at 2.048 MHz", 1048576, 2048000.0, 0.1, 5},
      {"r2", "the long zoom at n = 4096", 4096, 1000000.0, 0.5, 5},
      {"r3", "the long zoom at n = 2048", 2048, 1000000.0, 0.5, 5},
  };
  bool checked = true;
  for (const CoarseWorkload& workload : coarse) {
    if (wanted(workload.key)) checked = kestrav::runCoarse(workload) && checked;
  }
  for (const RefineWorkload& workload : refine) {
    if (wanted(workload.key)) checked = kestrav::runRefine(workload) && checked;
  }
  std::printf("\nload average %s at the end\n", kestrav::loadAverage().c_str());
  return checked ? 0 : 1;
}
