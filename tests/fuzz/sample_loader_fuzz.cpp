// The loader on arbitrary recordings and windows: it loads exactly the segments the window
// places, lowering the count to what both files hold, or refuses with an InputError.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"

namespace {

struct MemoryFile {
  int descriptor = -1;
  std::string path;
};

MemoryFile makeMemoryFile(const char* name) {
  MemoryFile file;
  file.descriptor = ::memfd_create(name, 0);
  if (file.descriptor < 0) std::abort();
  file.path = "/proc/self/fd/" + std::to_string(file.descriptor);
  return file;
}

void fill(const MemoryFile& file, const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(file.descriptor, 0) != 0) std::abort();
  if (size > 0 && ::pwrite(file.descriptor, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
}

template <class T>
T take(const std::uint8_t*& data, std::size_t& size) {
  T value{};
  const std::size_t bytes = size < sizeof value ? size : sizeof value;
  std::memcpy(&value, data, bytes);
  data += bytes;
  size -= bytes;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const MemoryFile first = makeMemoryFile("first");
  static const MemoryFile second = makeMemoryFile("second");
  const auto sampleCount = take<std::int32_t>(data, size);
  const auto centreLag = static_cast<int>(take<std::int16_t>(data, size));
  const int lagCount = static_cast<int>(take<std::uint16_t>(data, size) % 4096);
  const std::size_t firstBytes = take<std::uint16_t>(data, size) % (size + 1);
  fill(first, data, firstBytes);
  fill(second, data + firstBytes, size - firstBytes);

  kestrav::SearchParameters parameters;
  parameters.sampleCount = sampleCount;
  try {
    const kestrav::SamplePair pair = kestrav::loadSamplePair(
        first.path.c_str(), second.path.c_str(), parameters, centreLag, lagCount);
    const int n = parameters.sampleCount;
    if (n < 0 || n > sampleCount) std::abort();
    if (pair.first.size() != static_cast<std::size_t>(n)) std::abort();
    if (pair.second.size() != static_cast<std::size_t>(n) + lagCount) std::abort();
    const auto placement =
        kestrav::placeSegments(static_cast<long long>(firstBytes) / 4,
                               static_cast<long long>(size - firstBytes) / 4, centreLag, lagCount);
    if (n > 0 && std::memcmp(pair.first.data(), data + placement.firstStart * 4,
                             static_cast<std::size_t>(n) * 4) != 0) {
      std::abort();
    }
    if (!pair.second.empty() &&
        std::memcmp(pair.second.data(), data + firstBytes + placement.secondStart * 4,
                    pair.second.size() * 4) != 0) {
      std::abort();
    }
  } catch (const kestrav::InputError&) {
  }
  return 0;
}
