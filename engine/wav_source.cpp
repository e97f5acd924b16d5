#include "engine/wav_source.hpp"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The descriptor stays ours: libsndfile is told not to close it, so a failed open cannot close it
// twice.
class SndfileHandle {
 public:
  SndfileHandle(SNDFILE* file, int descriptor) : file_(file), descriptor_(descriptor) {}
  SndfileHandle(SndfileHandle&& other) noexcept
      : file_(std::exchange(other.file_, nullptr)),
        descriptor_(std::exchange(other.descriptor_, -1)) {}
  SndfileHandle& operator=(SndfileHandle&&) = delete;
  ~SndfileHandle() {
    if (file_ != nullptr) sf_close(file_);
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  SNDFILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }

 private:
  SNDFILE* file_;
  int descriptor_;
};

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

SndfileHandle openSndfile(const std::string& path, const char* role, WavHeader& header) {
  long long size = 0;
  const int descriptor = openRegularFile(path, role, &size);
  SF_INFO info{};
  SndfileHandle file(sf_open_fd(descriptor, SFM_READ, &info, 0), descriptor);
  const std::string about = "the " + std::string(role) + " recording " + quoted(path);
  if (!file) {
    throw InputError(about + " cannot be read as a WAV file: " + sf_strerror(nullptr));
  }
  switch (info.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      header.container = "RIFF";
      break;
    case SF_FORMAT_RF64:
      header.container = "RF64";
      break;
    case SF_FORMAT_W64:
      header.container = "W64";
      break;
    default:
      throw InputError(about + " is not a WAV file (RIFF, RF64 or W64)");
  }
  if (info.channels != 2) {
    throw InputError(about + " has " + std::to_string(info.channels) + " channel" +
                     (info.channels == 1 ? "" : "s") +
                     "; an I/Q recording has two, in-phase first");
  }
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
      header.format = SampleFormat::Cu8;
      break;
    case SF_FORMAT_PCM_16:
      header.format = SampleFormat::Ci16;
      break;
    case SF_FORMAT_FLOAT:
      header.format = SampleFormat::Cf32;
      break;
    default:
      throw InputError(about + " holds samples that are not 8-bit, 16-bit or 32-bit float");
  }
  header.sampleRate = info.samplerate;
  header.samples = static_cast<long long>(info.frames);
  return file;
}

class WavSource final : public SampleSource {
 public:
  WavSource(const WavHeader& header, SndfileHandle file, std::string path, const char* role)
      : SampleSource(header.format, header.samples, quoted(path)),
        file_(std::move(file)),
        role_(role) {}

  void read(long long start, std::size_t count, short2* out) override {
    seek(start, count);
    check(
        sf_readf_short(file_.get(), reinterpret_cast<short*>(out), static_cast<sf_count_t>(count)),
        start, count);
    // libsndfile scales 8-bit samples to 16 bits; the recording's own values are wanted.
    if (format() == SampleFormat::Cu8) {
      for (std::size_t i = 0; i < count; ++i) {
        out[i] = short2{static_cast<short>(out[i].x / 256), static_cast<short>(out[i].y / 256)};
      }
    }
  }

  void read(long long start, std::size_t count, float2* out) override {
    if (format() != SampleFormat::Cf32) {
      // Integer samples are read as int16 and widened: the values stay exact.
      std::vector<short2> values(count);
      read(start, count, values.data());
      for (std::size_t i = 0; i < count; ++i) {
        out[i] = float2{static_cast<float>(values[i].x), static_cast<float>(values[i].y)};
      }
      return;
    }
    seek(start, count);
    check(
        sf_readf_float(file_.get(), reinterpret_cast<float*>(out), static_cast<sf_count_t>(count)),
        start, count);
    requireFiniteSamples(out, count, start, role_, label());
  }

 private:
  void seek(long long start, std::size_t count) {
    if (sf_seek(file_.get(), static_cast<sf_count_t>(start), SEEK_SET) < 0) check(0, start, count);
  }
  void check(sf_count_t got, long long start, std::size_t count) const {
    if (got != static_cast<sf_count_t>(count)) {
      throw InputError("reading the " + std::string(role_) + " recording " + label() +
                       " came up short: " + std::to_string(std::max<sf_count_t>(got, 0)) + " of " +
                       std::to_string(count) + " samples from sample " + std::to_string(start) +
                       "; was the file changed while it was read?");
    }
  }

  SndfileHandle file_;
  const char* role_;
};

}  // namespace

bool isWavPath(const std::string& path) {
  const std::string name = lowered(path);
  for (const char* suffix : {".wav", ".rf64", ".w64"}) {
    const std::string end(suffix);
    if (name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0) {
      return true;
    }
  }
  return false;
}

WavHeader readWavHeader(const std::string& path, const char* role) {
  WavHeader header;
  openSndfile(path, role, header);
  return header;
}

std::unique_ptr<SampleSource> openWav(const std::string& path, const char* role) {
  WavHeader header;
  SndfileHandle file = openSndfile(path, role, header);
  return std::make_unique<WavSource>(header, std::move(file), path, role);
}

}  // namespace kestrav
