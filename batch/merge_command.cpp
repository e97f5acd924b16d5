#include "batch/merge_command.hpp"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

#include "app/one_line.hpp"
#include "batch/arguments.hpp"
#include "batch/merge_inputs.hpp"
#include "batch/track_output.hpp"
#include "batch/track_plot.hpp"
#include "batch/tracks.hpp"

namespace kestrav::batch {
namespace {

using namespace merge;

constexpr const char* Usage =
    "usage: kestrav-batch merge JOBS.jsonl DIR --out TRACKS.jsonl [--csv-dir DIR2]\n"
    "         [--plot FILE.svg]\n"
    "Takes one result per job from DIR's shard files (an ok one where any attempt ended ok, else\n"
    "the latest), and writes one JSON line per pair with its points in time order, then one per\n"
    "window for each triple of receivers whose three pairs were searched: the closure residual\n"
    "X(A,B) + X(B,C) - X(A,C) of the delay and the offset, and the same in deviations.\n"
    "--csv-dir writes each pair's points as DIR2/A-B.csv; --plot draws every pair's delay and\n"
    "offset against time with error bars.\n";

struct MergeArguments {
  std::string jobs;
  std::string folder;
  std::string out;
  std::string csvDir;
  std::string plot;
};

MergeArguments parse(const Arguments& arguments) {
  if (arguments.positional.size() != 2) {
    throw UsageError("merge takes a jobs file and a results folder (kestrav-batch merge --help)");
  }
  MergeArguments parsed{
      arguments.positional[0], arguments.positional[1], arguments.option("--out").value_or(""),
      arguments.option("--csv-dir").value_or(""), arguments.option("--plot").value_or("")};
  if (parsed.out.empty()) throw UsageError("--out names the tracks file to write");
  if (arguments.option("--csv-dir") && parsed.csvDir.empty()) {
    throw UsageError("--csv-dir names a folder");
  }
  if (arguments.option("--plot") && parsed.plot.empty()) throw UsageError("--plot names a file");
  return parsed;
}

// Written beside the target and renamed over it, so that a failed merge leaves no half file.
void writeWhole(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temporary =
      path.string() + ".partial-" + std::to_string(static_cast<long long>(::getpid()));
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    throw std::runtime_error("cannot create '" + path.string() + "': " + std::strerror(errno));
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeErrno = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write '" + path.string() +
                             "': " + std::strerror(written ? errno : writeErrno));
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write '" + path.string() + "': " + error.message());
  }
}

std::string rootMeanSquare(const std::vector<double>& values) {
  double sum = 0.0;
  for (const double value : values) sum += value * value;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", std::sqrt(sum / static_cast<double>(values.size())));
  return text;
}

void warnCounts(const PlannedJobs& planned, const ResultEntries& results, const MergeCounts& counts,
                std::ostream& err) {
  const auto warn = [&err](long long count, const std::string& what) {
    if (count > 0) err << "kestrav-batch merge: " << count << " " << what << "\n";
  };
  warn(planned.unreadable, "unreadable line(s) of the jobs file skipped");
  warn(planned.repeated, "line(s) of the jobs file repeating an earlier id skipped");
  warn(results.unreadable, "unreadable result line(s) skipped (torn or not a result)");
  warn(counts.unplanned, "result line(s) of jobs not in the plan ignored");
  warn(counts.stale, "result line(s) of a planned id with another digest (an older plan) ignored");
  warn(counts.missing, "planned job(s) without a result");
}

int mergeResults(const MergeArguments& arguments, std::ostream& out, std::ostream& err) {
  const PlannedJobs planned = readPlannedJobs(arguments.jobs);
  if (planned.jobs.empty() && planned.unreadable > 0) {
    throw InputProblem("'" + arguments.jobs + "' holds no job");
  }
  const ResultEntries results = readResultEntries(arguments.folder);
  if (results.files == 0) {
    err << "kestrav-batch merge: no shard files in '" << oneLine(arguments.folder) << "'\n";
  }
  MergeCounts counts;
  const std::vector<Track> tracks = buildTracks(planned, results, counts);
  const std::vector<Closure> closed = closures(tracks);
  warnCounts(planned, results, counts, err);

  std::string lines;
  for (const Track& track : tracks) lines += trackLine(track) + "\n";
  for (const Closure& closure : closed) lines += closureLine(closure) + "\n";
  writeWhole(arguments.out, lines);
  if (!arguments.csvDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(arguments.csvDir, error);
    if (error) {
      throw std::runtime_error("cannot create '" + arguments.csvDir + "': " + error.message());
    }
    std::set<std::string> used;
    for (const Track& track : tracks) {
      const std::string first = trackCsvName(track);
      std::string name = first;
      // Names that differ only in characters a file name cannot hold keep apart.
      for (int n = 2; !used.insert(name).second; ++n) {
        name = first.substr(0, first.size() - 4) + "." + std::to_string(n) + ".csv";
      }
      writeWhole(std::filesystem::path(arguments.csvDir) / name, trackCsv(track));
    }
  }
  if (!arguments.plot.empty()) {
    writeWhole(arguments.plot, renderTrackPlot(tracks, "Tracks of " + arguments.jobs));
  }

  for (const Track& track : tracks) {
    std::size_t ok = 0;
    for (const TrackPoint& point : track.points) ok += point.status == "ok" ? 1 : 0;
    out << track.first << "-" << track.second << ": " << track.points.size() << " point(s), " << ok
        << " ok\n";
  }
  std::vector<double> delaySigmas;
  std::vector<double> offsetSigmas;
  for (const Closure& closure : closed) {
    if (closure.delaySigmas) delaySigmas.push_back(*closure.delaySigmas);
    if (closure.offsetSigmas) offsetSigmas.push_back(*closure.offsetSigmas);
  }
  out << "results: " << results.entries.size() << " line(s) from " << results.files
      << " shard file(s), " << counts.duplicates << " repeated by later attempts\n";
  out << "closures: " << closed.size();
  if (!delaySigmas.empty())
    out << ", delay residual rms " << rootMeanSquare(delaySigmas) << " sigma";
  if (!offsetSigmas.empty()) {
    out << ", offset residual rms " << rootMeanSquare(offsetSigmas) << " sigma";
  }
  out << "\n";
  return 0;
}

}  // namespace

int runMergeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return runReportingFailures("merge", err, [&] {
    const Arguments arguments = parseArguments(args, {"--out", "--csv-dir", "--plot"});
    if (arguments.help) {
      out << Usage;
      return 0;
    }
    return mergeResults(parse(arguments), out, err);
  });
}

}  // namespace kestrav::batch
