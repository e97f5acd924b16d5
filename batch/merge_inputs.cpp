#include "batch/merge_inputs.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

#include "batch/result_files.hpp"

namespace kestrav::batch::merge {
namespace {

using nlohmann::json;

std::string readText(const std::filesystem::path& path) {
  // A folder or a FIFO would read as nothing, or wait for a writer.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw InputProblem("'" + path.string() + "' is not a readable file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputProblem("cannot read '" + path.string() + "'");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputProblem("cannot read '" + path.string() + "'");
  return text.str();
}

// Each non-empty line that parses as a JSON object; the others are counted.
template <class Take>
void forEachObject(const std::string& text, long long& unreadable, Take take) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const json value = json::parse(line, nullptr, false);
    if (value.is_discarded() || !value.is_object() || !take(value)) ++unreadable;
  }
}

bool isString(const json& object, const char* key) {
  return object.contains(key) && object[key].is_string();
}

// The unix time that ends a default attempt name ("host-pid-time"), or -1.
long long attemptTime(const std::string& fileName) {
  const std::optional<ShardName> name = parseShardFileName(fileName);
  if (!name) return -1;
  const std::string& attempt = name->attempt;
  const std::size_t dash = attempt.rfind('-');
  if (dash == std::string::npos || dash + 1 == attempt.size() || attempt.size() - dash > 19) {
    return -1;
  }
  for (std::size_t i = dash + 1; i < attempt.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(attempt[i]))) return -1;
  }
  return std::stoll(attempt.substr(dash + 1));
}

}  // namespace

PlannedJobs readPlannedJobs(const std::filesystem::path& path) {
  PlannedJobs planned;
  std::unordered_set<std::string> ids;
  forEachObject(readText(path), planned.unreadable, [&](const json& value) {
    if (!isString(value, "id") || !isString(value, "digest") || !value.contains("pair") ||
        !value["pair"].is_array() || value["pair"].size() != 2 || !value["pair"][0].is_string() ||
        !value["pair"][1].is_string() || !value.contains("window") ||
        !value["window"].is_number_integer() || !value.contains("t_mid_s") ||
        !value["t_mid_s"].is_number()) {
      return false;
    }
    const double tMid = value["t_mid_s"].get<double>();
    if (!std::isfinite(tMid)) return false;
    if (!ids.insert(value["id"].get<std::string>()).second) {
      ++planned.repeated;
      return true;
    }
    planned.jobs.push_back(PlannedJob{value["id"], value["digest"], value["pair"][0],
                                      value["pair"][1], value["window"].get<long long>(), tMid});
    return true;
  });
  return planned;
}

bool attemptBefore(const std::string& name, const std::string& other) {
  const long long time = attemptTime(name);
  const long long otherTime = attemptTime(other);
  return time != otherTime ? time < otherTime : name < other;
}

ResultEntries readResultEntries(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    throw InputProblem("'" + folder.string() + "' is not a folder");
  }
  std::vector<std::filesystem::path> files = shardFiles(folder);
  std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    return attemptBefore(a.filename().string(), b.filename().string());
  });
  ResultEntries results;
  results.files = files.size();
  for (const std::filesystem::path& path : files) {
    forEachObject(readText(path), results.unreadable, [&](const json& value) {
      std::optional<ResultLine> line = resultLineOf(value);
      if (!line) return false;
      results.entries.push_back(ResultEntry{std::move(line->id), std::move(line->digest),
                                            std::move(line->status), value});
      return true;
    });
  }
  return results;
}

}  // namespace kestrav::batch::merge
