#include "engine/sample_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

class FileSource final : public SampleSource {
 public:
  FileSource(std::string path, SampleFormat format, const char* role, std::FILE* file,
             long long samples)
      : SampleSource(format, samples, quoted(path)), path_(std::move(path)), role_(role),
        file_(file) {}

  void read(long long start, std::size_t count, short2* out) override {
    readConverted(start, count, [&](const unsigned char* bytes, std::size_t got, std::size_t at) {
      convertToInt16(format(), bytes, got, out + at);
    });
  }
  void read(long long start, std::size_t count, float2* out) override {
    readConverted(start, count, [&](const unsigned char* bytes, std::size_t got, std::size_t at) {
      convertToFloat(format(), bytes, got, out + at);
    });
  }

 private:
  struct Closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
  };

  // Reads in slices so that a conversion needs no second copy of the whole segment.
  template <class Convert>
  void readConverted(long long start, std::size_t count, Convert convert) {
    constexpr std::size_t SliceSamples = 1 << 16;
    const std::size_t width = static_cast<std::size_t>(bytesPerSample(format()));
    std::vector<unsigned char> slice(std::min(count, SliceSamples) * width);
    std::FILE* file = file_.get();
    std::size_t done = 0;
    if (fseeko(file, static_cast<off_t>(start) * static_cast<off_t>(width), SEEK_SET) == 0) {
      while (done < count) {
        const std::size_t want = std::min(count - done, SliceSamples);
        const std::size_t got = std::fread(slice.data(), width, want, file);
        convert(slice.data(), got, done);
        done += got;
        if (got < want) break;
      }
    }
    if (done != count) {
      throw InputError("reading the " + std::string(role_) + " recording " + quoted(path_) +
                       " came up short: " + std::to_string(done) + " of " + std::to_string(count) +
                       " samples from sample " + std::to_string(start) +
                       (std::ferror(file) ? " (read error)" : "") +
                       "; was the file changed while it was read?");
    }
  }

  std::string path_;
  const char* role_;
  std::unique_ptr<std::FILE, Closer> file_;
};

class MemorySource final : public SampleSource {
 public:
  MemorySource(const void* data, long long samples, SampleFormat format)
      : SampleSource(format, samples, "(in memory)"),
        data_(static_cast<const unsigned char*>(data)) {}
  void read(long long start, std::size_t count, short2* out) override {
    convertToInt16(format(), at(start), count, out);
  }
  void read(long long start, std::size_t count, float2* out) override {
    convertToFloat(format(), at(start), count, out);
  }

 private:
  const unsigned char* at(long long start) const {
    return data_ + static_cast<std::size_t>(start) * static_cast<std::size_t>(bytesPerSample(format()));
  }
  const unsigned char* data_;
};

}  // namespace

std::unique_ptr<SampleSource> openSampleFile(const std::string& path, SampleFormat format,
                                             const char* role) {
  // Opened without blocking, so that a FIFO named as a recording is refused instead of waiting
  // for a writer; only regular files have a size to place the segments by.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    throw InputError("cannot open the " + std::string(role) + " recording " + quoted(path) +
                     ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    throw InputError("the " + std::string(role) + " recording " + quoted(path) +
                     " is not a regular file");
  }
  std::FILE* file = ::fdopen(descriptor, "rb");
  if (file == nullptr) {
    const int error = errno;
    ::close(descriptor);
    throw InputError("cannot open the " + std::string(role) + " recording " + quoted(path) +
                     ": " + std::strerror(error));
  }
  // Sizes and positions are 64-bit: recordings of several GiB are ordinary.
  const long long samples =
      static_cast<long long>(status.st_size) / bytesPerSample(format);
  return std::make_unique<FileSource>(path, format, role, file, samples);
}

std::unique_ptr<SampleSource> wrapSamples(const void* data, long long samples,
                                          SampleFormat format) {
  return std::make_unique<MemorySource>(data, samples, format);
}

}  // namespace kestrav
