#include "batch/result_files.hpp"

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace kestrav::batch {
namespace {

bool wholeNumberText(const std::string& text) {
  return !text.empty() && text.size() < 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string systemError(const std::string& what, const std::filesystem::path& path) {
  return what + " '" + path.string() + "': " + std::strerror(errno);
}

}  // namespace

std::string shardFileName(const ShardName& name) {
  return "shard-" + std::to_string(name.index) + "-of-" + std::to_string(name.count) + "." +
         name.attempt + ".jsonl";
}

std::optional<ShardName> parseShardFileName(const std::string& fileName) {
  const std::string prefix = "shard-";
  const std::string suffix = ".jsonl";
  if (fileName.size() <= prefix.size() + suffix.size() || fileName.rfind(prefix, 0) != 0 ||
      fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return std::nullopt;
  }
  const std::string middle =
      fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
  const std::size_t of = middle.find("-of-");
  const std::size_t dot = middle.find('.', of == std::string::npos ? 0 : of);
  if (of == std::string::npos || dot == std::string::npos || dot + 1 == middle.size()) {
    return std::nullopt;
  }
  const std::string index = middle.substr(0, of);
  const std::string count = middle.substr(of + 4, dot - of - 4);
  if (!wholeNumberText(index) || !wholeNumberText(count)) return std::nullopt;
  ShardName name{std::stoll(index), std::stoll(count), middle.substr(dot + 1)};
  if (name.count < 1 || name.index >= name.count) return std::nullopt;
  return name;
}

std::vector<std::filesystem::path> shardFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file() && parseShardFileName(entry.path().filename().string())) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool isJobStatus(const std::string& status) {
  return status == "ok" || status == "below_threshold" || status == "input_error" ||
         status == "failed";
}

std::optional<ResultLine> resultLineOf(const nlohmann::json& line) {
  const auto field = [&](const char* key) -> const nlohmann::json* {
    const auto found = line.is_object() ? line.find(key) : line.end();
    return found != line.end() && found->is_string() ? &*found : nullptr;
  };
  const nlohmann::json* id = field("id");
  const nlohmann::json* digest = field("digest");
  const nlohmann::json* status = field("status");
  if (id == nullptr || digest == nullptr || status == nullptr ||
      !isJobStatus(status->get<std::string>())) {
    return std::nullopt;
  }
  return ResultLine{id->get<std::string>(), digest->get<std::string>(), status->get<std::string>()};
}

ResultScan scanResults(const std::filesystem::path& folder) {
  ResultScan scan;
  for (const std::filesystem::path& path : shardFiles(folder)) {
    scan.files.push_back(*parseShardFileName(path.filename().string()));
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error(systemError("cannot read the results file", path));
    std::string text;
    while (std::getline(file, text)) {
      if (text.empty()) continue;
      std::optional<ResultLine> line = resultLineOf(nlohmann::json::parse(text, nullptr, false));
      if (!line) {
        ++scan.unreadable;
        continue;
      }
      scan.lines.push_back(std::move(*line));
    }
    if (file.bad()) throw std::runtime_error(systemError("cannot read the results file", path));
  }
  return scan;
}

ResultWriter::ResultWriter(const std::filesystem::path& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error(systemError("cannot open the results file", path));
  const off_t size = ::lseek(fd_, 0, SEEK_END);
  char last = '\n';
  if (size > 0 && ::pread(fd_, &last, 1, size - 1) != 1) {
    throw std::runtime_error(systemError("cannot read the results file", path));
  }
  if (last != '\n') write("");
}

ResultWriter::~ResultWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void ResultWriter::write(const std::string& line) {
  const std::string whole = line + "\n";
  const ssize_t written = ::write(fd_, whole.data(), whole.size());
  if (written != static_cast<ssize_t>(whole.size())) {
    if (written >= 0) errno = ENOSPC;
    throw std::runtime_error(systemError("cannot write the results file", path_));
  }
}

}  // namespace kestrav::batch
