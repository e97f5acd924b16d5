#include "engine/sample_loader.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/errors.hpp"

namespace kestrav {
namespace {

static_assert(std::endian::native == std::endian::little,
              "recordings are little-endian and read as they are stored");

using Recording = OpenRecording;

std::string quoted(const char* path) { return std::string("'") + path + "'"; }

Recording openRecording(const char* role, const char* path) {
  // Opened without blocking, so that a FIFO named as a recording is refused instead of waiting
  // for a writer; only regular files have a size to place the segments by.
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    throw InputError(std::string("cannot open the ") + role + " recording " + quoted(path) +
                     ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    throw InputError(std::string("the ") + role + " recording " + quoted(path) +
                     " is not a regular file");
  }
  Recording recording{role, path, Recording::File(::fdopen(descriptor, "rb"))};
  if (!recording.file) {
    ::close(descriptor);
    throw InputError(std::string("cannot open the ") + role + " recording " + quoted(path) +
                     ": " + std::strerror(errno));
  }
  // Sizes and positions are 64-bit: recordings of several GiB are ordinary.
  if (fseeko(recording.file.get(), 0, SEEK_END) != 0) {
    throw InputError(std::string("cannot find the size of the ") + role + " recording " +
                     quoted(path) + ": " + std::strerror(errno));
  }
  const off_t bytes = ftello(recording.file.get());
  if (bytes < 0) {
    throw InputError(std::string("cannot find the size of the ") + role + " recording " +
                     quoted(path) + ": " + std::strerror(errno));
  }
  recording.samples = static_cast<long long>(bytes) / BytesPerSample;
  return recording;
}

std::vector<short2> allocateSegment(const char* role, long long samples) {
  try {
    return std::vector<short2>(static_cast<std::size_t>(samples));
  } catch (const std::bad_alloc&) {
    throw ResourceError(std::string("cannot allocate ") + std::to_string(samples * BytesPerSample) +
                        " bytes for the " + role + " recording's segment");
  }
}

void readSegment(Recording& recording, long long start, std::vector<short2>& segment) {
  std::FILE* file = recording.file.get();
  const bool placed = fseeko(file, static_cast<off_t>(start * BytesPerSample), SEEK_SET) == 0;
  const std::size_t got =
      placed ? std::fread(segment.data(), BytesPerSample, segment.size(), file) : 0;
  if (got != segment.size()) {
    throw InputError(std::string("reading the ") + recording.role + " recording " +
                     quoted(recording.path.c_str()) + " came up short: " + std::to_string(got) + " of " +
                     std::to_string(segment.size()) + " samples from sample " +
                     std::to_string(start) + (std::ferror(file) ? " (read error)" : "") +
                     "; was the file changed while it was read?");
  }
}

std::string tooShort(const Recording& recording, long long needed) {
  return "the " + std::string(recording.role) + " recording " + quoted(recording.path.c_str()) +
         " holds " + std::to_string(recording.samples) + " samples; the delay window needs at least " +
         std::to_string(needed);
}

}  // namespace

SegmentPlacement placeSegments(long long firstFileSamples, long long secondFileSamples,
                               int centreLag, int lagCount) {
  const long long halfWindow = lagCount / 2;
  SegmentPlacement placement;
  placement.firstStart = centreLag >= 0 ? halfWindow : halfWindow - centreLag;
  placement.secondStart = centreLag >= 0 ? centreLag : 0;
  placement.firstAvailable = firstFileSamples - placement.firstStart;
  placement.secondAvailable = secondFileSamples - lagCount - placement.secondStart;
  return placement;
}

SamplePairSource::SamplePairSource(const char* firstPath, const char* secondPath, int sampleCount,
                                   int centreLag, int lagCount)
    : lagCount_(lagCount) {
  if (sampleCount < 0 || lagCount < 0) {
    throw InputError("the sample count and the lag count must not be negative");
  }
  first_ = openRecording("first", firstPath);
  second_ = openRecording("second", secondPath);
  placement_ = placeSegments(first_.samples, second_.samples, centreLag, lagCount);
  if (placement_.firstAvailable < 0) throw InputError(tooShort(first_, placement_.firstStart));
  if (placement_.secondAvailable < 0) {
    throw InputError(tooShort(second_, placement_.secondStart + lagCount));
  }
  sampleCount_ = static_cast<int>(std::min<long long>(
      {sampleCount, placement_.firstAvailable, placement_.secondAvailable}));
}

std::uint64_t SamplePairSource::segmentBytes() const {
  return (2 * static_cast<std::uint64_t>(sampleCount_) + static_cast<std::uint64_t>(lagCount_)) *
         BytesPerSample;
}

SamplePair SamplePairSource::read() {
  SamplePair pair;
  pair.first = allocateSegment("first", sampleCount_);
  readSegment(first_, placement_.firstStart, pair.first);
  pair.second = allocateSegment("second", static_cast<long long>(sampleCount_) + lagCount_);
  readSegment(second_, placement_.secondStart, pair.second);
  return pair;
}

SamplePair loadSamplePair(const char* firstPath, const char* secondPath,
                          SearchParameters& parameters, int centreLag, int lagCount) {
  SamplePairSource source(firstPath, secondPath, parameters.sampleCount, centreLag, lagCount);
  parameters.sampleCount = source.sampleCount();
  return source.read();
}

}  // namespace kestrav
