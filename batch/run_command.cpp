#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <map>
#include <set>
#include <system_error>

#include "app/one_line.hpp"
#include "batch/arguments.hpp"
#include "batch/commands.hpp"
#include "batch/fftw_wisdom.hpp"
#include "batch/job_runner.hpp"
#include "batch/job_windows.hpp"
#include "batch/result_files.hpp"
#include "platform/host/worker_threads.hpp"

namespace kestrav::batch {
namespace {

const char* const RunUsage =
    "usage: kestrav-batch run JOBS.jsonl --shard I/N --out DIR [--attempt ID] [--threads T]\n"
    "  Runs shard I of N (from 0): the jobs [I*J/N, (I+1)*J/N) of the J in JOBS.jsonl, each\n"
    "  result a line of DIR/shard-I-of-N.ATTEMPT.jsonl. Jobs with a result in any shard file\n"
    "  of DIR (the same id and digest) are skipped, so a rerun finishes what a killed one left.\n"
    "  --attempt ID   names this run's file (default HOST-PID-UNIXTIME)\n"
    "  --threads T    worker threads at most (default KESTRAV_THREADS, else every thread)\n"
    "  FFTW wisdom is kept in $KESTRAV_FFTW_WISDOM, else DIR/.fftw-wisdom.\n";

struct Shard {
  long long index = 0;
  long long count = 1;
};

Shard shardOf(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) throw UsageError("--shard '" + text + "' is not I/N");
  Shard shard;
  shard.count = wholeNumber(text.substr(slash + 1), 1, 1000000000LL, "--shard's N");
  shard.index = wholeNumber(text.substr(0, slash), 0, shard.count - 1, "--shard's I");
  return shard;
}

std::string defaultAttempt() {
  char host[256] = "host";
  if (::gethostname(host, sizeof host - 1) != 0) std::snprintf(host, sizeof host, "host");
  host[sizeof host - 1] = '\0';
  std::string attempt = host;
  for (char& c : attempt) {
    if (!isPlainNameCharacter(c)) c = '_';
  }
  return attempt + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::time(nullptr));
}

std::string checkedAttempt(const std::string& attempt) {
  if (attempt.empty()) throw UsageError("--attempt must not be empty");
  for (const char c : attempt) {
    if (!isPlainNameCharacter(c)) {
      throw UsageError("--attempt '" + attempt + "' may hold only letters, digits, '_', '.', '-'");
    }
  }
  return attempt;
}

// KESTRAV_BATCH_EXIT_AFTER=n: the process ends as if killed right after its n-th result line.
long long exitAfter() {
  const char* text = std::getenv("KESTRAV_BATCH_EXIT_AFTER");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long long n = std::strtoll(text, &end, 10);
  return *end == '\0' && n > 0 ? n : 0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int runShard(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Arguments arguments = parseArguments(args, {"--shard", "--out", "--attempt", "--threads"});
  if (arguments.help) {
    out << RunUsage;
    return 0;
  }
  if (arguments.positional.size() != 1) {
    throw UsageError("run takes one jobs file (kestrav-batch run --help)");
  }
  const std::optional<std::string> folderText = arguments.option("--out");
  if (!folderText || folderText->empty()) throw UsageError("run needs --out DIR");
  const Shard shard = shardOf(arguments.option("--shard").value_or("0/1"));
  const std::string attempt =
      checkedAttempt(arguments.option("--attempt").value_or(defaultAttempt()));
  int threads = 0;
  if (const auto text = arguments.option("--threads")) {
    threads = static_cast<int>(wholeNumber(*text, 1, 65536, "--threads"));
  }

  const std::vector<Job> jobs = readJobsFile(arguments.positional.front());
  const std::filesystem::path folder(*folderText);
  std::error_code created;
  std::filesystem::create_directories(folder, created);
  if (created) {
    err << "kestrav-batch run: "
        << oneLine("cannot make the folder '" + folder.string() + "': " + created.message())
        << "\n";
    return 1;
  }

  // The shard's slice, less what any attempt already finished.
  const auto total = static_cast<long long>(jobs.size());
  const long long begin = shard.index * total / shard.count;
  const long long end = (shard.index + 1) * total / shard.count;
  std::set<std::string> done;
  for (const ResultLine& line : scanResults(folder).lines)
    done.insert(line.id + '\n' + line.digest);
  std::vector<const Job*> pending;
  for (long long j = begin; j < end; ++j) {
    const Job& job = jobs[static_cast<std::size_t>(j)];
    if (!done.count(job.id + '\n' + job.digest)) pending.push_back(&job);
  }

  const std::string shardText = std::to_string(shard.index) + "/" + std::to_string(shard.count);
  const auto summary = [&] {
    err << "kestrav-batch run: shard " << shardText << ": " << (end - begin) << " jobs, "
        << (end - begin - static_cast<long long>(pending.size())) << " already done, "
        << pending.size() << " run";
  };
  if (pending.empty()) {
    // Nothing to do leaves no empty results file behind.
    summary();
    err << "\n";
    return 0;
  }
  const char* wisdomVariable = std::getenv("KESTRAV_FFTW_WISDOM");
  const std::string wisdom = wisdomVariable != nullptr && *wisdomVariable != '\0'
                                 ? std::string(wisdomVariable)
                                 : (folder / ".fftw-wisdom").string();
  if (const auto warning = importWisdom(wisdom)) {
    err << "kestrav-batch run: warning: " << oneLine(*warning) << "\n";
  }
  ResultWriter writer(folder / shardFileName({shard.index, shard.count, attempt}));
  const WorkerThreadLimit limit(threads);
  const long long stopAfter = exitAfter();

  // One reader thread reads the next job's windows while this thread searches the current one;
  // only the reader touches the recordings, so each is read by one thread at a time.
  RecordingShelf shelf;
  JobRunner runner({attempt, shardText});
  const auto readAhead = [&](std::size_t k) {
    return std::async(std::launch::async, [&shelf, job = pending[k]] { return shelf.read(*job); });
  };
  std::map<std::string, long long> counts;
  std::future<JobWindows> next = readAhead(0);
  for (std::size_t k = 0; k < pending.size(); ++k) {
    const auto waiting = std::chrono::steady_clock::now();
    const JobWindows windows = next.get();
    const double waited = secondsSince(waiting);
    if (k + 1 < pending.size()) next = readAhead(k + 1);
    const JobRunner::Result result = runner.run(*pending[k], windows, waited);
    writer.write(result.line);
    ++counts[result.status];
    if (stopAfter > 0 && static_cast<long long>(k) + 1 == stopAfter) ::_exit(137);
  }
  if (const auto warning = exportWisdom(wisdom)) {
    err << "kestrav-batch run: warning: " << oneLine(*warning) << "\n";
  }
  summary();
  for (const auto& [status, count] : counts) err << ", " << status << " " << count;
  err << "\n";
  return 0;
}

}  // namespace

int runRunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return runReportingFailures("run", err, [&] { return runShard(args, out, err); });
}

}  // namespace kestrav::batch
