#pragma once
// What the machine can give a search, checked before the search allocates, so that a search too
// large for the machine ends with a message instead of the kernel's out-of-memory killer.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrav {

// The least of: the memory the kernel reports available, the room left under this process's
// address-space and data limits, and the room left in its control group.
std::uint64_t memoryAvailableBytes();

// The memory a search needs, by purpose.
struct MemoryNeed {
  std::vector<std::pair<std::string, std::uint64_t>> parts;
  void add(std::string purpose, std::uint64_t bytes) {
    parts.emplace_back(std::move(purpose), bytes);
  }
  std::uint64_t total() const;
};

// Throws ResourceError naming the need, its parts and the limit when the need exceeds `available`.
void requireMemory(const MemoryNeed& need, std::uint64_t available);

}  // namespace kestrav
