#include "engine/sigmf.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

constexpr const char* MetaSuffix = ".sigmf-meta";
constexpr const char* DataSuffix = ".sigmf-data";

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

}  // namespace

bool isSigmfPath(const std::string& path) {
  return endsWith(path, MetaSuffix) || endsWith(path, DataSuffix);
}

SigmfRecording readSigmf(const std::string& path, const char* role) {
  // Both suffixes are eleven characters long.
  const std::string base = path.substr(0, path.size() - std::strlen(MetaSuffix));
  SigmfRecording recording{base + MetaSuffix, base + DataSuffix, SampleFormat::Ci16, 0.0};
  const std::string about =
      std::string("the ") + role + " recording's metadata '" + recording.metaPath + "'";

  std::ifstream file(recording.metaPath, std::ios::binary);
  if (!file) throw InputError("cannot read " + about + ": " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  nlohmann::json meta;
  try {
    meta = nlohmann::json::parse(text.str());
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

  if (!global.contains("core:sample_rate") || !global["core:sample_rate"].is_number()) {
    throw InputError(about + " has no \"core:sample_rate\" number");
  }
  recording.sampleRate = global["core:sample_rate"].get<double>();
  if (!std::isfinite(recording.sampleRate) || !(recording.sampleRate > 0.0)) {
    throw InputError(about + " gives a sample rate that is not a positive number");
  }

  struct stat status {};
  if (::stat(recording.dataPath.c_str(), &status) != 0) {
    throw InputError(std::string("the ") + role + " recording's data file '" +
                     recording.dataPath + "' cannot be found: " + std::strerror(errno));
  }
  return recording;
}

}  // namespace kestrav
