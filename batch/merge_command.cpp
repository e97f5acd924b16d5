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

class UsageProblem : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The message as one line: a control character in a path shown as '?'.
std::string oneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return out;
}

struct MergeArguments {
  std::string jobs;
  std::string folder;
  std::string out;
  std::string csvDir;
  std::string plot;
  bool help = false;
};

MergeArguments parse(const std::vector<std::string>& args) {
  MergeArguments parsed;
  std::vector<std::string> positional;
  const std::map<std::string, std::string MergeArguments::*> options{
      {"--out", &MergeArguments::out},
      {"--csv-dir", &MergeArguments::csvDir},
      {"--plot", &MergeArguments::plot}};
  std::set<std::string> seen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto option = options.find(name);
    if (option == options.end()) throw UsageProblem("unknown option '" + name + "'");
    if (!seen.insert(name).second) throw UsageProblem(name + " given twice");
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    }
    if (value.empty()) throw UsageProblem(name + " needs a value");
    parsed.*(option->second) = value;
  }
  if (parsed.help) return parsed;
  if (positional.size() != 2) throw UsageProblem("give the jobs file and the results folder");
  parsed.jobs = positional[0];
  parsed.folder = positional[1];
  if (parsed.out.empty()) throw UsageProblem("--out names the tracks file to write");
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
    if (count > 0) err << "merge: " << count << " " << what << "\n";
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
    err << "merge: no shard files in '" << oneLine(arguments.folder) << "'\n";
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
  MergeArguments arguments;
  try {
    arguments = parse(args);
  } catch (const UsageProblem& problem) {
    err << "merge: " << oneLine(problem.what()) << "; kestrav-batch merge --help says more\n";
    return 2;
  }
  if (arguments.help) {
    out << Usage;
    return 0;
  }
  try {
    return mergeResults(arguments, out, err);
  } catch (const InputProblem& problem) {
    err << "merge: " << oneLine(problem.what()) << "\n";
    return 2;
  } catch (const std::exception& error) {
    // What cannot be written (or allocated) is the machine's failure, not the input's.
    err << "merge: " << oneLine(error.what()) << "\n";
    return 1;
  }
}

}  // namespace kestrav::batch
