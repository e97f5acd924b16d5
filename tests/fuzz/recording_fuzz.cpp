// The recording loader on arbitrary files: SigMF archives (the tar reader), WAV files, SigMF
// metadata with its data, bare samples. Each is described and read within its own size, or
// refused with an InputError; nothing else may happen.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/recording.hpp"
#include "platform/host/errors.hpp"

namespace {

const std::string& directory() {
  static const std::string path = [] {
    char pattern[] = "/tmp/kestrav-recording-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  return path;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int kind = data[0] % 4;
  const int channel = static_cast<int>(data[1] % 4) - 1;
  const std::size_t split = data[2] * 16u % (size - 3 + 1);
  data += 3;
  size -= 3;
  std::string path;
  switch (kind) {
    case 0:
      path = directory() + "/r.sigmf";
      writeFile(path, data, size);
      break;
    case 1:
      path = directory() + "/r.wav";
      writeFile(path, data, size);
      break;
    case 2:
      path = directory() + "/r.sigmf-meta";
      writeFile(path, data, split);
      writeFile(directory() + "/r.sigmf-data", data + split, size - split);
      break;
    default:
      path = directory() + "/r.iq";
      writeFile(path, data, size);
      break;
  }
  try {
    const kestrav::Recording recording =
        kestrav::describeRecording(path, {std::nullopt, channel}, "first");
    if (recording.samples < 0) std::abort();
    const auto source = kestrav::openRecording(recording, "first");
    if (source->samples() != recording.samples) std::abort();
    const long long count = std::min<long long>(recording.samples, 4096);
    std::vector<float2> floats(static_cast<std::size_t>(count));
    try {
      source->read(recording.samples - count, floats.size(), floats.data());
    } catch (const kestrav::InputError& error) {
      // Only non-finite float samples may stop a read within the recording's own size.
      if (std::strstr(error.what(), "not a finite number") == nullptr) std::abort();
    }
    if (kestrav::fitsInt16(recording.format)) {
      std::vector<short2> ints(static_cast<std::size_t>(count));
      source->read(0, ints.size(), ints.data());
    }
  } catch (const kestrav::InputError&) {
  }
  return 0;
}
