#include "batch/job.hpp"

#include <cinttypes>
#include <cstdio>
#include <fstream>

#include "batch/json_fields.hpp"

namespace kestrav::batch {
namespace {

using nlohmann::json;

nlohmann::ordered_json sideJson(const JobSide& side) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  object["name"] = side.name;
  object["path"] = side.path;
  object["format"] = side.format;
  object["channel"] = side.channel;
  object["offset"] = side.offset;
  return object;
}

JobSide sideFrom(const json& object, const std::string& where) {
  JobSide side;
  side.name = stringValue(requiredField(object, where, "name"), fieldPath(where, "name"));
  side.path = stringValue(requiredField(object, where, "path"), fieldPath(where, "path"));
  side.format = stringValue(requiredField(object, where, "format"), fieldPath(where, "format"));
  side.channel = static_cast<int>(
      integerValue(requiredField(object, where, "channel"), fieldPath(where, "channel")));
  side.offset = integerValue(requiredField(object, where, "offset"), fieldPath(where, "offset"));
  return side;
}

SearchBlock searchFrom(const json& object, const std::string& where) {
  const auto number = [&](const char* key) {
    return numberValue(requiredField(object, where, key), fieldPath(where, key));
  };
  SearchBlock search;
  search.centreUs = number("centre_us");
  search.rangeUs = number("range_us");
  search.thresholdDb = number("threshold_db");
  search.frequencySpanHz = number("frequency_span_hz");
  search.precise = boolValue(requiredField(object, where, "precise"), fieldPath(where, "precise"));
  search.candidates = static_cast<int>(
      integerValue(requiredField(object, where, "candidates"), fieldPath(where, "candidates")));
  search.backend =
      stringValue(requiredField(object, where, "backend"), fieldPath(where, "backend"));
  return search;
}

}  // namespace

std::string jobId(const std::string& campaign, const std::string& first, const std::string& second,
                  long long window) {
  char index[32];
  std::snprintf(index, sizeof index, "w%06lld", window);
  return campaign + "/" + first + "-" + second + "/" + index;
}

nlohmann::ordered_json toJson(const Job& job) {
  nlohmann::ordered_json line = nlohmann::ordered_json::object();
  line["id"] = job.id;
  line["digest"] = job.digest;
  line["campaign"] = job.campaign;
  line["pair"] = nlohmann::ordered_json::array({job.first.name, job.second.name});
  line["window"] = job.window;
  line["first"] = sideJson(job.first);
  line["second"] = sideJson(job.second);
  line["rate_hz"] = job.rateHz;
  line["samples"] = job.samples;
  line["t_start_s"] = job.tStartS;
  line["t_mid_s"] = job.tMidS;
  line["alignment_residual_s"] = job.alignmentResidualS;
  line["search"] = searchJson<nlohmann::ordered_json>(job.search);
  return line;
}

Job jobFromJson(const json& object) {
  Job job;
  job.id = stringValue(requiredField(object, "", "id"), "id");
  job.digest = stringValue(requiredField(object, "", "digest"), "digest");
  job.campaign = stringValue(requiredField(object, "", "campaign"), "campaign");
  job.first = sideFrom(requiredField(object, "", "first"), "first");
  job.second = sideFrom(requiredField(object, "", "second"), "second");
  job.window = integerValue(requiredField(object, "", "window"), "window");
  job.rateHz = numberValue(requiredField(object, "", "rate_hz"), "rate_hz");
  const long long samples = integerValue(requiredField(object, "", "samples"), "samples");
  if (samples < 1 || samples > 2147483647LL) {
    throw FieldError("samples", "must lie between 1 and 2147483647");
  }
  job.samples = static_cast<int>(samples);
  job.tStartS = numberValue(requiredField(object, "", "t_start_s"), "t_start_s");
  job.tMidS = numberValue(requiredField(object, "", "t_mid_s"), "t_mid_s");
  job.alignmentResidualS =
      numberValue(requiredField(object, "", "alignment_residual_s"), "alignment_residual_s");
  job.search = searchFrom(requiredField(object, "", "search"), "search");
  return job;
}

std::string digestOf(const Job& job) {
  // nlohmann's objects keep their keys sorted and print doubles as the shortest text that reads
  // back to the same value, so the text is the same on every build and platform.
  json canonical = json::object();
  for (const auto& [key, side] : {std::pair{"first", &job.first}, {"second", &job.second}}) {
    canonical[key] = {{"path", side->path},
                      {"format", side->format},
                      {"channel", side->channel},
                      {"offset", side->offset}};
  }
  canonical["rate_hz"] = job.rateHz;
  canonical["samples"] = job.samples;
  canonical["alignment_residual_s"] = job.alignmentResidualS;
  canonical["search"] = searchJson<json>(job.search);
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char byte : canonical.dump()) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

}  // namespace kestrav::batch

namespace kestrav::batch {

std::vector<Job> readJobsFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw FieldError(path, "cannot be read");
  std::vector<Job> jobs;
  std::string text;
  for (long long number = 1; std::getline(file, text); ++number) {
    if (text.empty()) continue;
    const std::string where = path + ":" + std::to_string(number);
    Job job;
    try {
      job = jobFromJson(nlohmann::json::parse(text));
    } catch (const nlohmann::json::exception& error) {
      throw FieldError(where, std::string("is not a JSON object: ") + error.what());
    } catch (const FieldError& error) {
      throw FieldError(where, error.what());
    }
    if (digestOf(job) != job.digest) {
      throw FieldError(
          where, "job " + job.id + " does not match its digest (was the line edited? plan again)");
    }
    jobs.push_back(std::move(job));
  }
  if (file.bad()) throw FieldError(path, "could not be read to its end");
  return jobs;
}

}  // namespace kestrav::batch
