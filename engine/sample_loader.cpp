#include "engine/sample_loader.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

template <class Sample>
std::vector<Sample> allocateSegment(const char* role, long long samples) {
  try {
    return std::vector<Sample>(static_cast<std::size_t>(samples));
  } catch (const std::bad_alloc&) {
    throw ResourceError("cannot allocate " + std::to_string(samples * sizeof(Sample)) +
                        " bytes for the " + role + " recording's segment");
  }
}

std::string tooShort(const char* role, const SampleSource& source, long long needed) {
  return "the " + std::string(role) + " recording " + source.label() + " holds " +
         std::to_string(source.samples()) + " samples; the delay window needs at least " +
         std::to_string(needed);
}

template <class Sample>
void readSegments(SampleSource& first, SampleSource& second, const SegmentPlacement& placement,
                  int count, int lagCount, std::vector<Sample>& firstOut,
                  std::vector<Sample>& secondOut) {
  firstOut = allocateSegment<Sample>("first", count);
  first.read(placement.firstStart, firstOut.size(), firstOut.data());
  secondOut = allocateSegment<Sample>("second", static_cast<long long>(count) + lagCount);
  second.read(placement.secondStart, secondOut.size(), secondOut.data());
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

SamplePairSource::SamplePairSource(std::unique_ptr<SampleSource> first,
                                   std::unique_ptr<SampleSource> second, int sampleCount,
                                   int centreLag, int lagCount)
    : first_(std::move(first)), second_(std::move(second)), lagCount_(lagCount) {
  if (sampleCount < 0 || lagCount < 0) {
    throw InputError("the sample count and the lag count must not be negative");
  }
  placement_ = placeSegments(first_->samples(), second_->samples(), centreLag, lagCount);
  if (placement_.firstAvailable < 0) {
    throw InputError(tooShort("first", *first_, placement_.firstStart));
  }
  if (placement_.secondAvailable < 0) {
    throw InputError(tooShort("second", *second_, placement_.secondStart + lagCount));
  }
  sampleCount_ = static_cast<int>(
      std::min<long long>({sampleCount, placement_.firstAvailable, placement_.secondAvailable}));
  floatSamples_ = !fitsInt16(first_->format()) || !fitsInt16(second_->format());
}

SamplePairSource::SamplePairSource(const char* firstPath, const char* secondPath, int sampleCount,
                                   int centreLag, int lagCount)
    : SamplePairSource(openSampleFile(firstPath, SampleFormat::Ci16, "first"),
                       openSampleFile(secondPath, SampleFormat::Ci16, "second"), sampleCount,
                       centreLag, lagCount) {}

std::uint64_t SamplePairSource::segmentBytes() const {
  const std::uint64_t bytesPerValue = floatSamples_ ? sizeof(float2) : sizeof(short2);
  return (2 * static_cast<std::uint64_t>(sampleCount_) + static_cast<std::uint64_t>(lagCount_)) *
         bytesPerValue;
}

SamplePair SamplePairSource::read() {
  SamplePair pair;
  pair.floatSamples = floatSamples_;
  if (floatSamples_) {
    readSegments(*first_, *second_, placement_, sampleCount_, lagCount_, pair.firstFloat,
                 pair.secondFloat);
  } else {
    readSegments(*first_, *second_, placement_, sampleCount_, lagCount_, pair.first, pair.second);
  }
  return pair;
}

SamplePair loadSamplePair(const char* firstPath, const char* secondPath,
                          SearchParameters& parameters, int centreLag, int lagCount) {
  SamplePairSource source(firstPath, secondPath, parameters.sampleCount, centreLag, lagCount);
  parameters.sampleCount = source.sampleCount();
  return source.read();
}

}  // namespace kestrav
