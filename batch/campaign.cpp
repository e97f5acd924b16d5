#include "batch/campaign.hpp"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "batch/arguments.hpp"
#include "batch/json_fields.hpp"
#include "engine/sample_format.hpp"
#include "platform/host/errors.hpp"

namespace kestrav::batch {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Names go into job ids ("CAMPAIGN/A-B/w000012") and file names: no separators, no spaces.
std::string checkedName(const json& value, const std::string& field) {
  const std::string name = stringValue(value, field);
  if (name.empty() || name.front() == '.') {
    throw FieldError(field, "must not be empty or begin with '.'");
  }
  for (const char c : name) {
    if (!isPlainNameCharacter(c)) {
      throw FieldError(field, "'" + name + "' may hold only letters, digits, '_', '.' and '-'");
    }
  }
  return name;
}

Receiver readReceiver(const json& object, const std::string& where, const fs::path& folder,
                      std::vector<std::string>& warnings) {
  requireKnownFields(object, where, {"name", "recording"});
  Receiver receiver;
  receiver.name = checkedName(requiredField(object, where, "name"), fieldPath(where, "name"));
  const std::string at = fieldPath(where, "recording");
  const json& recording = requiredField(object, where, "recording");
  if (!recording.is_object()) throw FieldError(at, "must be an object");
  requireKnownFields(recording, at, {"path", "format", "rate_hz", "start", "channel"});
  const std::string named =
      stringValue(requiredField(recording, at, "path"), fieldPath(at, "path"));
  if (named.empty()) throw FieldError(fieldPath(at, "path"), "must not be empty");
  receiver.path = (folder / named).lexically_normal().string();

  RecordingRequest request;
  if (const json* format = optionalField(recording, "format")) {
    const std::string name = stringValue(*format, fieldPath(at, "format"));
    request.format = formatNamed(name);
    if (!request.format) {
      throw FieldError(fieldPath(at, "format"), "'" + name + "' is not ci16, cf32, ci8 or cu8");
    }
  }
  if (const json* channel = optionalField(recording, "channel")) {
    const long long k = integerValue(*channel, fieldPath(at, "channel"));
    if (k < 0 || k > 65535) throw FieldError(fieldPath(at, "channel"), "must be 0 or more");
    request.channel = static_cast<int>(k);
  }
  try {
    receiver.recording = describeRecording(receiver.path, request, receiver.name.c_str());
  } catch (const InputError& error) {
    throw FieldError(fieldPath(at, "path"), error.what());
  }
  receiver.channel = request.channel;
  for (const std::string& warning : receiver.recording.warnings) warnings.push_back(warning);

  const double own = receiver.recording.sampleRate;
  if (const json* rate = optionalField(recording, "rate_hz")) {
    receiver.rateHz = numberValue(*rate, fieldPath(at, "rate_hz"));
    if (!(receiver.rateHz > 0.0)) throw FieldError(fieldPath(at, "rate_hz"), "must be above 0");
    if (own > 0.0 && own != receiver.rateHz) {
      std::ostringstream text;
      text.precision(17);
      text << receiver.rateHz << " Hz disagrees with the recording's own, " << own << " Hz";
      throw FieldError(fieldPath(at, "rate_hz"), text.str());
    }
  } else if (own > 0.0) {
    receiver.rateHz = own;
  } else {
    throw FieldError(fieldPath(at, "rate_hz"), "is missing, and the recording gives no rate");
  }

  const std::optional<StartTime> recorded = startTimeOf(receiver.recording, receiver.rateHz);
  if (const json* start = optionalField(recording, "start")) {
    const std::string text = stringValue(*start, fieldPath(at, "start"));
    receiver.start = parseDatetime(text);
    if (!receiver.start) {
      throw FieldError(fieldPath(at, "start"),
                       "'" + text + "' is not an ISO 8601 time such as 2026-01-01T00:00:00.5Z");
    }
    if (recorded && (recorded->seconds != receiver.start->seconds ||
                     recorded->fraction != receiver.start->fraction)) {
      warnings.push_back("receiver " + receiver.name + ": the campaign's start " + text +
                         " is used in place of the recording's own core:datetime");
    }
  } else {
    receiver.start = recorded;
  }
  return receiver;
}

int receiverIndex(const std::vector<Receiver>& receivers, const json& value,
                  const std::string& field) {
  const std::string name = stringValue(value, field);
  for (std::size_t r = 0; r < receivers.size(); ++r) {
    if (receivers[r].name == name) return static_cast<int>(r);
  }
  throw FieldError(field, "'" + name + "' is not a receiver's name");
}

std::vector<std::pair<int, int>> readPairs(const json& value,
                                           const std::vector<Receiver>& receivers) {
  const int count = static_cast<int>(receivers.size());
  std::vector<std::pair<int, int>> pairs;
  if (value.is_string()) {
    if (value.get<std::string>() != "all") {
      throw FieldError("pairs", "must be \"all\", {\"reference\": NAME} or a list of name pairs");
    }
    for (int i = 0; i < count; ++i) {
      for (int j = i + 1; j < count; ++j) pairs.emplace_back(i, j);
    }
  } else if (value.is_object()) {
    requireKnownFields(value, "pairs", {"reference"});
    const int reference =
        receiverIndex(receivers, requiredField(value, "pairs", "reference"), "pairs.reference");
    for (int j = 0; j < count; ++j) {
      if (j != reference) pairs.emplace_back(reference, j);
    }
  } else if (value.is_array()) {
    std::set<std::pair<int, int>> seen;
    for (std::size_t p = 0; p < value.size(); ++p) {
      const std::string field = "pairs[" + std::to_string(p) + "]";
      if (!value[p].is_array() || value[p].size() != 2) {
        throw FieldError(field, "must be a list of two receiver names");
      }
      const int first = receiverIndex(receivers, value[p][0], field + "[0]");
      const int second = receiverIndex(receivers, value[p][1], field + "[1]");
      if (first == second) throw FieldError(field, "pairs a receiver with itself");
      if (!seen.insert({std::min(first, second), std::max(first, second)}).second) {
        throw FieldError(field, "names a pair already listed");
      }
      pairs.emplace_back(first, second);
    }
  } else {
    throw FieldError("pairs", "must be \"all\", {\"reference\": NAME} or a list of name pairs");
  }
  if (pairs.empty()) throw FieldError("pairs", "names no pair (a campaign needs two receivers)");
  return pairs;
}

WindowGrid readWindows(const json& object) {
  if (!object.is_object()) throw FieldError("windows", "must be an object");
  requireKnownFields(object, "windows", {"samples", "hop", "start_s", "stop_s"});
  WindowGrid grid;
  grid.samples = integerValue(requiredField(object, "windows", "samples"), "windows.samples");
  if (grid.samples < 1 || grid.samples > 2147483647LL) {
    throw FieldError("windows.samples", "must lie between 1 and 2147483647");
  }
  grid.hop = grid.samples;
  if (const json* hop = optionalField(object, "hop")) {
    grid.hop = integerValue(*hop, "windows.hop");
    if (grid.hop < 1) throw FieldError("windows.hop", "must be 1 or more");
  }
  // Campaign times within some thirty years of the origin; beyond, counts of windows overflow.
  const auto seconds = [](const json& value, const std::string& field) {
    const double time = numberValue(value, field);
    if (std::fabs(time) > 1e9) throw FieldError(field, "must lie within 1e9 s of the start");
    return time;
  };
  if (const json* start = optionalField(object, "start_s")) {
    grid.startS = seconds(*start, "windows.start_s");
  }
  if (const json* stop = optionalField(object, "stop_s")) {
    grid.stopS = seconds(*stop, "windows.stop_s");
    if (!(*grid.stopS > grid.startS)) {
      throw FieldError("windows.stop_s", "must lie after windows.start_s");
    }
  }
  return grid;
}

SearchBlock readSearch(const json& object) {
  if (!object.is_object()) throw FieldError("search", "must be an object");
  requireKnownFields(object, "search",
                     {"centre_us", "range_us", "threshold_db", "frequency_span_hz", "precise",
                      "candidates", "backend"});
  SearchBlock search;
  const auto positive = [&](const char* key, double& into, bool required) {
    const std::string field = fieldPath("search", key);
    const json* value =
        required ? &requiredField(object, "search", key) : optionalField(object, key);
    if (value == nullptr) return;
    into = numberValue(*value, field);
    if (!(into > 0.0)) throw FieldError(field, "must be above 0");
  };
  if (const json* centre = optionalField(object, "centre_us")) {
    search.centreUs = numberValue(*centre, "search.centre_us");
  }
  positive("range_us", search.rangeUs, true);
  positive("threshold_db", search.thresholdDb, true);
  positive("frequency_span_hz", search.frequencySpanHz, false);
  if (const json* precise = optionalField(object, "precise")) {
    search.precise = boolValue(*precise, "search.precise");
  }
  if (const json* candidates = optionalField(object, "candidates")) {
    const long long k = integerValue(*candidates, "search.candidates");
    if (k < 1 || k > 10) throw FieldError("search.candidates", "must lie between 1 and 10");
    search.candidates = static_cast<int>(k);
  }
  if (const json* backend = optionalField(object, "backend")) {
    search.backend = stringValue(*backend, "search.backend");
    if (search.backend != "auto" && search.backend != "host" && search.backend != "cuda" &&
        search.backend != "reference") {
      throw FieldError("search.backend",
                       "'" + search.backend + "' is not auto, host, cuda or reference");
    }
  }
  return search;
}

}  // namespace

Campaign readCampaign(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw FieldError(path, "cannot be read");
  json document;
  try {
    document = json::parse(file);
  } catch (const json::exception& error) {
    throw FieldError(path, std::string("is not JSON: ") + error.what());
  }
  if (!document.is_object()) throw FieldError(path, "must hold a JSON object");
  requireKnownFields(document, "", {"campaign", "receivers", "pairs", "windows", "search"});

  Campaign campaign;
  campaign.name = checkedName(requiredField(document, "", "campaign"), "campaign");
  const fs::path folder = fs::absolute(fs::path(path)).parent_path();
  const json& receivers = requiredField(document, "", "receivers");
  if (!receivers.is_array() || receivers.size() < 2) {
    throw FieldError("receivers", "must be a list of at least two receivers");
  }
  std::set<std::string> names;
  for (std::size_t r = 0; r < receivers.size(); ++r) {
    const std::string where = "receivers[" + std::to_string(r) + "]";
    Receiver receiver = readReceiver(receivers[r], where, folder, campaign.warnings);
    if (!names.insert(receiver.name).second) {
      throw FieldError(where + ".name", "'" + receiver.name + "' names two receivers");
    }
    campaign.receivers.push_back(std::move(receiver));
  }
  // Alignment needs every start time or none: one receiver's unknown start would be taken as the
  // others' and give delays off by the difference, with nothing to say so.
  const Receiver& first = campaign.receivers.front();
  for (std::size_t r = 1; r < campaign.receivers.size(); ++r) {
    const Receiver& receiver = campaign.receivers[r];
    if (receiver.start.has_value() != first.start.has_value()) {
      const Receiver& without = receiver.start ? first : receiver;
      const std::size_t index = receiver.start ? 0 : r;
      throw FieldError("receivers[" + std::to_string(index) + "].recording.start",
                       "receiver " + without.name +
                           " has no start time while others have one; give every receiver a "
                           "start or none");
    }
  }
  campaign.pairs = readPairs(requiredField(document, "", "pairs"), campaign.receivers);
  campaign.windows = readWindows(requiredField(document, "", "windows"));
  campaign.search = readSearch(requiredField(document, "", "search"));
  return campaign;
}

}  // namespace kestrav::batch
