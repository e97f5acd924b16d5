#include "engine/recording.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "engine/sigmf_archive.hpp"
#include "engine/wav_source.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

bool isArchivePath(const std::string& path) { return endsWith(path, ".sigmf"); }

long long requireRegularFile(const std::string& path, const char* role) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    const int error = errno;
    throw InputError(std::string("the ") + role + " recording " + quoted(path) + " " +
                     (error == ENOENT
                          ? std::string("does not exist")
                          : std::string("cannot be examined: ") + std::strerror(error)));
  }
  if (!S_ISREG(status.st_mode)) {
    throw InputError(std::string("the ") + role + " recording " + quoted(path) +
                     " is not a regular file");
  }
  return static_cast<long long>(status.st_size);
}

// Checks the SigMF recording against the request and lays out its chosen channel.
void completeSigmf(Recording& recording, const SigmfRecording& sigmf,
                   const RecordingRequest& request, long long dataOffset, long long dataBytes,
                   const std::string& about, const char* role) {
  if (request.format && *request.format != sigmf.format) {
    throw InputError(std::string("--format ") + formatName(*request.format) +
                     " disagrees with the " + role + " recording's metadata, which gives " +
                     formatName(sigmf.format));
  }
  int channel = 0;
  if (sigmf.channels > 1) {
    if (request.channel < 0) {
      throw InputError(about + " gives " + std::to_string(sigmf.channels) +
                       " interleaved channels (core:num_channels); pick one with --channel K, K "
                       "from 0 to " +
                       std::to_string(sigmf.channels - 1));
    }
    if (request.channel >= sigmf.channels) {
      throw InputError("--channel " + std::to_string(request.channel) + " is beyond the " +
                       std::to_string(sigmf.channels) + " channels of " + about);
    }
    channel = request.channel;
  }
  recording.format = sigmf.format;
  recording.sampleRate = sigmf.sampleRate;
  recording.captures = sigmf.captures;
  recording.layout = sigmfLayout(sigmf, dataOffset, dataBytes, channel, about);
  recording.samples = recording.layout.samples();
}

Recording describeSamples(const std::string& path, const RecordingRequest& request,
                          const char* role) {
  Recording recording;
  recording.kind = RecordingKind::Samples;
  recording.path = path;
  recording.label = quoted(path);
  const long long size = requireRegularFile(path, role);
  const std::optional<SampleFormat> named = formatOfName(path);
  recording.format = request.format.value_or(named.value_or(SampleFormat::Ci16));
  if (request.format && named && *named != *request.format) {
    recording.warnings.push_back(std::string("--format ") + formatName(*request.format) +
                                 " contradicts the " + role + " recording's name " + quoted(path) +
                                 ", which says " + formatName(*named) + "; it is read as " +
                                 formatName(*request.format));
  }
  // Opened once here so that a container under a sample file's name is refused before anything
  // else is checked.
  (void)openSampleFile(path, recording.format, role);
  recording.samples = size / bytesPerSample(recording.format);
  recording.layout.pieces.push_back({0, recording.samples, 0});
  return recording;
}

Recording describeWav(const std::string& path, const RecordingRequest& request, const char* role) {
  Recording recording;
  recording.kind = RecordingKind::Wav;
  recording.path = path;
  recording.label = quoted(path);
  requireRegularFile(path, role);
  const WavHeader header = readWavHeader(path, role);
  if (request.format && *request.format != header.format) {
    throw InputError(std::string("--format ") + formatName(*request.format) +
                     " disagrees with the " + role + " recording's WAV header, which gives " +
                     formatName(header.format));
  }
  recording.format = header.format;
  recording.sampleRate = header.sampleRate;
  recording.samples = header.samples;
  return recording;
}

Recording describeSigmf(const std::string& path, const RecordingRequest& request,
                        const char* role) {
  const SigmfRecording sigmf = readSigmf(path, role);
  Recording recording;
  recording.kind = RecordingKind::Sigmf;
  recording.path = sigmf.dataPath;
  recording.label = quoted(sigmf.dataPath);
  const long long size = requireRegularFile(sigmf.dataPath, role);
  completeSigmf(recording, sigmf, request, 0, size,
                std::string("the ") + role + " recording's metadata " + quoted(sigmf.metaPath),
                role);
  return recording;
}

Recording describeArchive(const std::string& path, const RecordingRequest& request,
                          const char* role) {
  Recording recording;
  recording.kind = RecordingKind::SigmfArchive;
  recording.path = path;
  long long size = 0;
  const int descriptor = openRegularFile(path, role, &size);
  const std::string about = std::string("the ") + role + " recording's archive " + quoted(path);
  const ArchivedRecording archived = [&] {
    struct Closer {
      int descriptor;
      ~Closer() { ::close(descriptor); }
    } closer{descriptor};
    return findArchivedRecording(descriptor, size, path, about);
  }();
  const std::string metaAbout = std::string("the ") + role + " recording's metadata " +
                                quoted(path + ":" + archived.metaName);
  const SigmfRecording sigmf = parseSigmf(archived.metaText, metaAbout);
  recording.label = quoted(path + ":" + archived.data.name);
  completeSigmf(recording, sigmf, request, archived.data.offset, archived.data.size, metaAbout,
                role);
  return recording;
}

int digits(const std::string& text, std::size_t at, std::size_t count, bool& ok) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
      ok = false;
      return 0;
    }
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

}  // namespace

std::optional<SampleFormat> formatOfName(const std::string& path) {
  struct Suffix {
    const char* suffix;
    SampleFormat format;
  };
  static const Suffix suffixes[] = {
      {".cf32", SampleFormat::Cf32}, {".fc32", SampleFormat::Cf32}, {".cfile", SampleFormat::Cf32},
      {".cs16", SampleFormat::Ci16}, {".ci16", SampleFormat::Ci16}, {".sc16", SampleFormat::Ci16},
      {".cs8", SampleFormat::Ci8},   {".ci8", SampleFormat::Ci8},   {".sc8", SampleFormat::Ci8},
      {".cu8", SampleFormat::Cu8},
  };
  const std::string name = lowered(path);
  for (const Suffix& entry : suffixes) {
    if (endsWith(name, entry.suffix)) return entry.format;
  }
  return std::nullopt;
}

bool mayCarrySampleRate(const std::string& path) {
  if (isSigmfPath(path) || isArchivePath(path) || isWavPath(path)) return true;
  return !exists(path) && (exists(path + ".sigmf-meta") || exists(path + ".sigmf"));
}

Recording describeRecording(const std::string& path, const RecordingRequest& request,
                            const char* role) {
  if (isSigmfPath(path)) return describeSigmf(path, request, role);
  if (isArchivePath(path)) return describeArchive(path, request, role);
  if (isWavPath(path)) return describeWav(path, request, role);
  // A SigMF recording may be named by its base name, as SigMF's own tools do.
  if (!exists(path)) {
    if (exists(path + ".sigmf-meta")) return describeSigmf(path + ".sigmf-meta", request, role);
    if (exists(path + ".sigmf")) return describeArchive(path + ".sigmf", request, role);
  }
  return describeSamples(path, request, role);
}

std::unique_ptr<SampleSource> openRecording(const Recording& recording, const char* role) {
  switch (recording.kind) {
    case RecordingKind::Samples:
      return openSampleFile(recording.path, recording.format, role);
    case RecordingKind::Wav:
      return openWav(recording.path, role);
    case RecordingKind::Sigmf:
    case RecordingKind::SigmfArchive:
      return openLaidOutFile(recording.path, recording.label, recording.format, recording.layout,
                             role);
  }
  throw InputError("unknown recording kind");
}

std::vector<std::string> captureBoundaryWarnings(const Recording& recording, long long start,
                                                 long long count, const char* role) {
  std::vector<std::string> warnings;
  for (std::size_t c = 0; c < recording.captures.size(); ++c) {
    const long long boundary = recording.captures[c].sampleStart;
    if (boundary > start && boundary < start + count) {
      warnings.push_back(std::string("the ") + role + " recording's searched samples " +
                         std::to_string(start) + " to " + std::to_string(start + count - 1) +
                         " cross the start of its capture " + std::to_string(c) + " at sample " +
                         std::to_string(boundary) +
                         " (a retune or a gap?); the results may mix the two");
    }
  }
  return warnings;
}

const SigmfCapture* captureAt(const Recording& recording, long long sample) {
  const SigmfCapture* found = recording.captures.empty() ? nullptr : &recording.captures.front();
  for (const SigmfCapture& capture : recording.captures) {
    if (capture.sampleStart <= sample) found = &capture;
  }
  return found;
}

std::optional<StartTime> parseDatetime(const std::string& text) {
  bool ok = true;
  const int year = digits(text, 0, 4, ok);
  const int month = digits(text, 5, 2, ok);
  const int day = digits(text, 8, 2, ok);
  const int hour = digits(text, 11, 2, ok);
  const int minute = digits(text, 14, 2, ok);
  const int second = digits(text, 17, 2, ok);
  if (!ok || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') ||
      text[13] != ':' || text[16] != ':' || month < 1 || month > 12 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  std::size_t at = 19;
  double fraction = 0.0;
  if (at < text.size() && text[at] == '.') {
    double scale = 0.1;
    const std::size_t first = ++at;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
      fraction += (text[at] - '0') * scale;
      scale /= 10;
    }
    if (at == first) return std::nullopt;
  }
  long long zone = 0;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at] == '-' ? -1 : 1;
    const int zoneHours = digits(text, at + 1, 2, ok);
    const bool colon = at + 3 < text.size() && text[at + 3] == ':';
    const int zoneMinutes = digits(text, at + (colon ? 4 : 3), 2, ok);
    if (!ok) return std::nullopt;
    zone = sign * (zoneHours * 3600LL + zoneMinutes * 60LL);
    at += colon ? 6 : 5;
  } else {
    return std::nullopt;  // a time without its zone cannot be compared with another
  }
  if (at != text.size()) return std::nullopt;
  StartTime time;
  time.seconds =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400LL +
      hour * 3600LL + minute * 60LL + second - zone;
  time.fraction = fraction;
  return time;
}

std::optional<StartTime> startTimeOf(const Recording& recording, double sampleRate) {
  for (const SigmfCapture& capture : recording.captures) {
    if (capture.datetime.empty()) continue;
    std::optional<StartTime> time = parseDatetime(capture.datetime);
    if (!time || !(sampleRate > 0.0)) return std::nullopt;
    // The capture's time is that of its first sample; sample 0 came before it.
    const double before = static_cast<double>(capture.sampleStart) / sampleRate;
    const double whole = std::floor(before);
    time->seconds -= static_cast<long long>(whole);
    time->fraction -= before - whole;
    return time;
  }
  return std::nullopt;
}

}  // namespace kestrav
