#include "engine/memory_budget.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

constexpr std::uint64_t Unlimited = std::numeric_limits<std::uint64_t>::max();

std::uint64_t meminfoAvailable() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kibibytes = 0;
  std::string unit;
  while (meminfo >> key >> kibibytes >> unit) {
    if (key == "MemAvailable:") return kibibytes * 1024;
  }
  return Unlimited;
}

// What this process already holds of what a limit counts: all its address space for the
// address-space limit, its data and stack for the data limit (fields 1 and 6 of statm, in pages).
std::uint64_t usedUnder(int resource) {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t fields[6] = {};
  for (std::uint64_t& field : fields) statm >> field;
  const std::uint64_t pages = resource == RLIMIT_AS ? fields[0] : fields[5];
  return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::uint64_t roomUnderLimit(int resource) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return Unlimited;
  const std::uint64_t used = usedUnder(resource);
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// cgroup v2: memory.max less memory.current of this process's group, where both can be read.
std::uint64_t cgroupRoom() {
  std::ifstream membership("/proc/self/cgroup");
  std::string line;
  std::string group;
  while (std::getline(membership, line)) {
    if (line.rfind("0::", 0) == 0) group = line.substr(3);
  }
  if (group.empty()) return Unlimited;
  const std::string base = "/sys/fs/cgroup" + group;
  std::ifstream maxFile(base + "/memory.max");
  std::ifstream currentFile(base + "/memory.current");
  std::string maximum;
  std::uint64_t current = 0;
  if (!(maxFile >> maximum) || maximum == "max" || !(currentFile >> current)) return Unlimited;
  const std::uint64_t limit = std::stoull(maximum);
  return limit > current ? limit - current : 0;
}

std::string mebibytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

}  // namespace

std::uint64_t memoryAvailableBytes() {
  return std::min(
      {meminfoAvailable(), roomUnderLimit(RLIMIT_AS), roomUnderLimit(RLIMIT_DATA), cgroupRoom()});
}

std::uint64_t MemoryNeed::total() const {
  std::uint64_t sum = 0;
  for (const auto& part : parts) sum += part.second;
  return sum;
}

void requireMemory(const MemoryNeed& need, std::uint64_t available) {
  if (need.total() <= available) return;
  std::ostringstream message;
  message << "the search needs " << mebibytes(need.total()) << " of memory (";
  bool first = true;
  for (const auto& [purpose, bytes] : need.parts) {
    if (bytes == 0) continue;
    message << (first ? "" : ", ") << purpose << " " << mebibytes(bytes);
    first = false;
  }
  message << "), more than the " << mebibytes(available) << " this machine can give";
  throw ResourceError(message.str());
}

}  // namespace kestrav
