#pragma once
// The result files of a run folder: DIR/shard-I-of-N.ATTEMPT.jsonl, one JSON line per job that
// ended, each written whole with one write call to a file opened for appending.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrav::batch {

struct ShardName {
  long long index = 0;
  long long count = 0;
  std::string attempt;
};

std::string shardFileName(const ShardName& name);
// Absent for a name that is not a shard file's.
std::optional<ShardName> parseShardFileName(const std::string& fileName);
// The shard files in the folder, sorted by name; none when the folder does not exist.
std::vector<std::filesystem::path> shardFiles(const std::filesystem::path& folder);

// ok, below_threshold, input_error, failed: every status ends its job.
bool isJobStatus(const std::string& status);

// The parts of a result line that resume, status and merge read: its id, digest and status, all
// strings and the status a job's; absent for anything else (a torn line, another program's).
struct ResultLine {
  std::string id;
  std::string digest;
  std::string status;
};

std::optional<ResultLine> resultLineOf(const nlohmann::json& line);

struct ResultScan {
  std::vector<ResultLine> lines;  // file by file in name order, line by line
  long long unreadable = 0;       // lines that are not whole results (a torn last line)
  std::vector<ShardName> files;
};

// Every whole result line of the folder's shard files. Throws std::runtime_error when a file
// cannot be read.
ResultScan scanResults(const std::filesystem::path& folder);

// A results file opened for appending; a torn last line (a run killed mid-write) is closed with a
// newline first, so that it stays one unreadable line and the lines after it stay whole.
class ResultWriter {
 public:
  // Throws std::runtime_error with the reason when the file cannot be opened.
  explicit ResultWriter(const std::filesystem::path& path);
  ~ResultWriter();
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;
  // Writes the line and a newline with one write call. Throws std::runtime_error on failure.
  void write(const std::string& line);

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace kestrav::batch
