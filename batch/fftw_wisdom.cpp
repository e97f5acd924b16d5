#include "batch/fftw_wisdom.hpp"

#include <fcntl.h>
#include <fftw3.h>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/host/fftw_plans.hpp"

namespace kestrav::batch {
namespace {

struct Exported {
  std::string single;
  std::string double_;
};

Exported exportedWisdom() {
  std::lock_guard lock(fftwPlannerLock());
  Exported exported;
  if (char* text = fftwf_export_wisdom_to_string()) {
    exported.single = text;
    std::free(text);
  }
  if (char* text = fftw_export_wisdom_to_string()) {
    exported.double_ = text;
    std::free(text);
  }
  return exported;
}

// Reads and imports the file; absent file: true with nothing done.
bool importFile(const std::string& path, std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (errno == ENOENT) return true;
    problem = "cannot read the FFTW wisdom file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  const nlohmann::json document = nlohmann::json::parse(text.str(), nullptr, false);
  const auto member = [&](const char* key) {
    const auto found = document.is_object() ? document.find(key) : document.end();
    return found != document.end() && found->is_string() ? found->get<std::string>()
                                                         : std::string();
  };
  const std::string single = member("fftwf");
  const std::string double_ = member("fftw");
  std::lock_guard lock(fftwPlannerLock());
  const bool imported = (single.empty() || fftwf_import_wisdom_from_string(single.c_str()) != 0) &&
                        (double_.empty() || fftw_import_wisdom_from_string(double_.c_str()) != 0);
  if (!imported || !document.is_object()) {
    problem = "the FFTW wisdom file '" + path + "' is damaged; it is planned afresh";
    return false;
  }
  return true;
}

// An exclusive lock on PATH.lock for the life of the object.
class FileLock {
 public:
  explicit FileLock(const std::string& path)
      : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> importWisdom(const std::string& path) {
  std::string problem;
  if (importFile(path, problem)) return std::nullopt;
  return problem;
}

std::optional<std::string> exportWisdom(const std::string& path) {
  const FileLock lock(path);
  if (!lock.held()) {
    return "cannot lock the FFTW wisdom file '" + path + "': " + std::strerror(errno);
  }
  // What other shards wrote since this one started joins this one's before the file is replaced.
  std::string ignored;
  importFile(path, ignored);
  const Exported exported = exportedWisdom();
  const std::string text =
      nlohmann::json{{"fftwf", exported.single}, {"fftw", exported.double_}}.dump() + "\n";
  // Unique among the shards of every machine sharing the folder.
  char host[256] = "";
  ::gethostname(host, sizeof host - 1);
  const std::string temporary =
      path + ".tmp-" + std::string(host) + "-" + std::to_string(::getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.flush();
    if (!file) {
      std::remove(temporary.c_str());
      return "cannot write the FFTW wisdom file '" + temporary + "'";
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    return "cannot replace the FFTW wisdom file '" + path + "': " + reason;
  }
  return std::nullopt;
}

}  // namespace kestrav::batch
