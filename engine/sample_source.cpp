#include "engine/sample_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/container_sniff.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

class FileSource final : public SampleSource {
 public:
  FileSource(std::string label, SampleFormat format, const char* role, std::FILE* file,
             DataLayout layout)
      : SampleSource(format, layout.samples(), std::move(label)),
        role_(role),
        file_(file),
        layout_(std::move(layout)) {}

  void read(long long start, std::size_t count, short2* out) override {
    readConverted(start, count, [&](const unsigned char* bytes, std::size_t got, std::size_t at) {
      convertToInt16(format(), bytes, got, out + at);
    });
  }
  void read(long long start, std::size_t count, float2* out) override {
    readConverted(start, count, [&](const unsigned char* bytes, std::size_t got, std::size_t at) {
      convertToFloat(format(), bytes, got, out + at);
    });
    if (format() == SampleFormat::Cf32) requireFiniteSamples(out, count, start, role_, label());
  }

 private:
  struct Closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
  };

  // Reads in slices so that a conversion needs no second copy of the whole segment.
  template <class Convert>
  void readConverted(long long start, std::size_t count, Convert convert) {
    // Slices of about 512 KiB whatever the number of channels interleaved in a frame.
    const std::size_t width = static_cast<std::size_t>(bytesPerSample(format()));
    const std::size_t frame = width * static_cast<std::size_t>(layout_.channels);
    const std::size_t SliceSamples = std::max<std::size_t>(1, (std::size_t{1} << 19) / frame);
    std::vector<unsigned char> slice(std::min(count, SliceSamples) * frame);
    std::FILE* file = file_.get();
    std::size_t done = 0;
    for (const DataPiece& piece : layout_.pieces) {
      const long long at = start + static_cast<long long>(done);
      if (done == count) break;
      if (at >= piece.firstSample + piece.samples) continue;
      if (at < piece.firstSample) break;
      const std::size_t inPiece = std::min<std::size_t>(
          count - done, static_cast<std::size_t>(piece.firstSample + piece.samples - at));
      const off_t offset = static_cast<off_t>(piece.byteOffset) +
                           static_cast<off_t>(at - piece.firstSample) * static_cast<off_t>(frame);
      if (fseeko(file, offset, SEEK_SET) != 0) break;
      std::size_t pieceDone = 0;
      while (pieceDone < inPiece) {
        const std::size_t want = std::min(inPiece - pieceDone, SliceSamples);
        const std::size_t got = std::fread(slice.data(), frame, want, file);
        if (layout_.channels > 1) pickChannel(slice.data(), got, width, frame);
        convert(slice.data(), got, done);
        done += got;
        pieceDone += got;
        if (got < want) break;
      }
      if (pieceDone < inPiece) break;
    }
    if (done != count) {
      throw InputError("reading the " + std::string(role_) + " recording " + label() +
                       " came up short: " + std::to_string(done) + " of " + std::to_string(count) +
                       " samples from sample " + std::to_string(start) +
                       (std::ferror(file) ? " (read error)" : "") +
                       "; was the file changed while it was read?");
    }
  }

  // Moves the chosen channel's samples of `frames` interleaved frames to the slice's front.
  void pickChannel(unsigned char* bytes, std::size_t frames, std::size_t width,
                   std::size_t frame) const {
    const std::size_t skip = width * static_cast<std::size_t>(layout_.channel);
    for (std::size_t i = 0; i < frames; ++i) {
      std::memmove(bytes + i * width, bytes + i * frame + skip, width);
    }
  }

  const char* role_;
  std::unique_ptr<std::FILE, Closer> file_;
  DataLayout layout_;
};

class MemorySource final : public SampleSource {
 public:
  MemorySource(const void* data, long long samples, SampleFormat format, const char* role)
      : SampleSource(format, samples, "(in memory)"),
        data_(static_cast<const unsigned char*>(data)),
        role_(role) {}
  void read(long long start, std::size_t count, short2* out) override {
    convertToInt16(format(), at(start), count, out);
  }
  void read(long long start, std::size_t count, float2* out) override {
    convertToFloat(format(), at(start), count, out);
    if (format() == SampleFormat::Cf32) requireFiniteSamples(out, count, start, role_, label());
  }

 private:
  const unsigned char* at(long long start) const {
    return data_ +
           static_cast<std::size_t>(start) * static_cast<std::size_t>(bytesPerSample(format()));
  }
  const unsigned char* data_;
  const char* role_;
};

std::FILE* streamOf(int descriptor, const std::string& path, const char* role) {
  std::FILE* file = ::fdopen(descriptor, "rb");
  if (file == nullptr) {
    const int error = errno;
    ::close(descriptor);
    throw InputError("cannot open the " + std::string(role) + " recording " + quoted(path) + ": " +
                     std::strerror(error));
  }
  return file;
}

}  // namespace

int openRegularFile(const std::string& path, const char* role, long long* size) {
  // Opened without blocking, so that a FIFO named as a recording is refused instead of waiting
  // for a writer; only regular files have a size to place the segments by.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    throw InputError("cannot open the " + std::string(role) + " recording " + quoted(path) + ": " +
                     std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    throw InputError("the " + std::string(role) + " recording " + quoted(path) +
                     " is not a regular file");
  }
  // Sizes and positions are 64-bit: recordings of several GiB are ordinary.
  *size = static_cast<long long>(status.st_size);
  return descriptor;
}

void requireFiniteSamples(const float2* samples, std::size_t count, long long start,
                          const char* role, const std::string& label) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i].x) || !std::isfinite(samples[i].y)) {
      throw InputError("the " + std::string(role) + " recording " + label + " holds a sample " +
                       "that is not a finite number (NaN or infinity) at sample " +
                       std::to_string(start + static_cast<long long>(i)));
    }
  }
}

std::unique_ptr<SampleSource> openSampleFile(const std::string& path, SampleFormat format,
                                             const char* role) {
  long long size = 0;
  const int descriptor = openRegularFile(path, role, &size);
  unsigned char head[SniffBytes];
  const ssize_t got = ::pread(descriptor, head, sizeof head, 0);
  const std::string container = got > 0 ? containerKind(head, static_cast<std::size_t>(got)) : "";
  if (!container.empty()) {
    ::close(descriptor);
    throw InputError("the " + std::string(role) + " recording " + quoted(path) + " looks like " +
                     container +
                     ", not bare samples; give it its container's name (.wav, "
                     ".sigmf, .sigmf-meta) or convert it");
  }
  DataLayout layout;
  layout.pieces.push_back({0, size / bytesPerSample(format), 0});
  return std::make_unique<FileSource>(quoted(path), format, role, streamOf(descriptor, path, role),
                                      std::move(layout));
}

std::unique_ptr<SampleSource> openLaidOutFile(const std::string& path, const std::string& label,
                                              SampleFormat format, DataLayout layout,
                                              const char* role) {
  long long size = 0;
  const int descriptor = openRegularFile(path, role, &size);
  return std::make_unique<FileSource>(label, format, role, streamOf(descriptor, path, role),
                                      std::move(layout));
}

std::unique_ptr<SampleSource> wrapSamples(const void* data, long long samples, SampleFormat format,
                                          const char* role) {
  return std::make_unique<MemorySource>(data, samples, format, role);
}

}  // namespace kestrav
