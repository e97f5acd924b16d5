#include "engine/sigmf.hpp"

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/recording.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

constexpr const char* MetaSuffix = ".sigmf-meta";
constexpr const char* DataSuffix = ".sigmf-data";
constexpr long long MaxChannels = 65536;

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct DatatypeName {
  const char* name;
  SampleFormat format;
};
constexpr DatatypeName Datatypes[] = {{"ci16_le", SampleFormat::Ci16},
                                      {"cf32_le", SampleFormat::Cf32},
                                      {"ci8", SampleFormat::Ci8},
                                      {"cu8", SampleFormat::Cu8}};

// A field that must be a whole number not below `least` when present.
long long countField(const nlohmann::json& object, const char* field, long long fallback,
                     long long least, const std::string& about) {
  if (!object.contains(field)) return fallback;
  const nlohmann::json& value = object[field];
  if (!value.is_number_integer() || value.get<long long>() < least) {
    throw InputError(about + " gives \"" + field + "\" that is not a whole number of at least " +
                     std::to_string(least));
  }
  return value.get<long long>();
}

SigmfCapture captureOf(const nlohmann::json& entry, std::size_t index, const std::string& about) {
  const std::string where = about + " capture " + std::to_string(index);
  if (!entry.is_object()) throw InputError(where + " is not an object");
  SigmfCapture capture;
  capture.sampleStart = countField(entry, "core:sample_start", 0, 0, where);
  capture.headerBytes = countField(entry, "core:header_bytes", 0, 0, where);
  if (entry.contains("core:frequency")) {
    if (!entry["core:frequency"].is_number() ||
        !std::isfinite(entry["core:frequency"].get<double>())) {
      throw InputError(where + " gives \"core:frequency\" that is not a number");
    }
    capture.frequency = entry["core:frequency"].get<double>();
  }
  if (entry.contains("core:datetime")) {
    if (!entry["core:datetime"].is_string()) {
      throw InputError(where + " gives \"core:datetime\" that is not text");
    }
    capture.datetime = entry["core:datetime"].get<std::string>();
    if (!parseDatetime(capture.datetime)) {
      throw InputError(where + " gives \"core:datetime\" '" + capture.datetime +
                       "', which is not an ISO 8601 time with its zone");
    }
  }
  return capture;
}

}  // namespace

bool isSigmfPath(const std::string& path) {
  return endsWith(path, MetaSuffix) || endsWith(path, DataSuffix);
}

SigmfRecording parseSigmf(const std::string& text, const std::string& about) {
  SigmfRecording recording;
  nlohmann::json meta;
  try {
    meta = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& error) {
    throw InputError(about + " is not valid JSON: " + error.what());
  }
  if (!meta.is_object() || !meta.contains("global") || !meta["global"].is_object()) {
    throw InputError(about + " has no \"global\" object");
  }
  const nlohmann::json& global = meta["global"];

  if (!global.contains("core:datatype") || !global["core:datatype"].is_string()) {
    throw InputError(about + " has no \"core:datatype\" text");
  }
  const std::string datatype = global["core:datatype"].get<std::string>();
  if (endsWith(datatype, "_be")) {
    throw InputError(about + " gives the big-endian datatype '" + datatype +
                     "'; only little-endian recordings are read");
  }
  bool known = false;
  for (const DatatypeName& entry : Datatypes) {
    if (datatype == entry.name) {
      recording.format = entry.format;
      known = true;
    }
  }
  if (!known) {
    throw InputError(about + " gives the datatype '" + datatype +
                     "', which is not one of ci16_le, cf32_le, ci8, cu8");
  }

  // The sample rate is optional in SigMF: without it the command line must give one.
  if (global.contains("core:sample_rate")) {
    if (!global["core:sample_rate"].is_number()) {
      throw InputError(about + " has no \"core:sample_rate\" number");
    }
    recording.sampleRate = global["core:sample_rate"].get<double>();
    if (!std::isfinite(recording.sampleRate) || !(recording.sampleRate > 0.0)) {
      throw InputError(about + " gives a sample rate that is not a positive number");
    }
  }
  const long long channels = countField(global, "core:num_channels", 1, 1, about);
  if (channels > MaxChannels) {
    throw InputError(about + " gives " + std::to_string(channels) +
                     " channels (core:num_channels), more than the " + std::to_string(MaxChannels) +
                     " a recording may have here");
  }
  recording.channels = static_cast<int>(channels);
  recording.trailingBytes = countField(global, "core:trailing_bytes", 0, 0, about);

  if (meta.contains("captures")) {
    if (!meta["captures"].is_array())
      throw InputError(about + " has \"captures\" that is not a list");
    for (const nlohmann::json& entry : meta["captures"]) {
      recording.captures.push_back(captureOf(entry, recording.captures.size(), about));
    }
  }
  for (std::size_t c = 1; c < recording.captures.size(); ++c) {
    if (recording.captures[c].sampleStart <= recording.captures[c - 1].sampleStart) {
      throw InputError(about + " capture " + std::to_string(c) +
                       " does not start after the one before it");
    }
  }
  return recording;
}

SigmfRecording readSigmf(const std::string& path, const char* role) {
  // Both suffixes are eleven characters long.
  const std::string base = path.substr(0, path.size() - std::strlen(MetaSuffix));
  const std::string metaPath = base + MetaSuffix;
  const std::string about = std::string("the ") + role + " recording's metadata '" + metaPath + "'";

  std::ifstream file(metaPath, std::ios::binary);
  if (!file) throw InputError("cannot read " + about + ": " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  SigmfRecording recording = parseSigmf(text.str(), about);
  recording.metaPath = metaPath;
  recording.dataPath = base + DataSuffix;

  struct stat status {};
  if (::stat(recording.dataPath.c_str(), &status) != 0) {
    throw InputError(std::string("the ") + role + " recording's data file '" + recording.dataPath +
                     "' cannot be found: " + std::strerror(errno));
  }
  return recording;
}

DataLayout sigmfLayout(const SigmfRecording& recording, long long dataOffset, long long dataBytes,
                       int channel, const std::string& about) {
  DataLayout layout;
  layout.channels = recording.channels;
  layout.channel = channel;
  const long long frame =
      static_cast<long long>(bytesPerSample(recording.format)) * recording.channels;
  // Summed with a check: sizes from the metadata may be anything up to 2^63.
  long long headers = 0;
  for (const SigmfCapture& capture : recording.captures) {
    headers =
        capture.headerBytes > dataBytes - headers ? dataBytes + 1 : headers + capture.headerBytes;
  }
  const long long sampleBytes = (dataBytes - headers) - recording.trailingBytes;
  if (sampleBytes < 0) {
    throw InputError(about + " gives more header and trailing bytes than the data file's " +
                     std::to_string(dataBytes));
  }
  const long long total = sampleBytes / frame;
  // Samples before the first capture, if any, have no header of their own.
  long long start = 0;
  long long offset = dataOffset;
  for (const SigmfCapture& capture : recording.captures) {
    if (capture.sampleStart > total) {
      throw InputError(about + " has a capture starting at sample " +
                       std::to_string(capture.sampleStart) + ", past the data file's " +
                       std::to_string(total) + " samples");
    }
    if (capture.sampleStart > start) {
      layout.pieces.push_back({start, capture.sampleStart - start, offset});
    }
    offset += (capture.sampleStart - start) * frame + capture.headerBytes;
    start = capture.sampleStart;
  }
  if (total > start || layout.pieces.empty()) {
    layout.pieces.push_back({start, std::max(0LL, total - start), offset});
  }
  return layout;
}

}  // namespace kestrav
