#pragma once
// One (pair, window) job of a campaign as plan writes it and run reads it: a line of jobs.jsonl.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kestrav::batch {

// The search every window of a campaign runs.
struct SearchBlock {
  double centreUs = 0.0;
  double rangeUs = 0.0;
  double thresholdDb = 0.0;
  double frequencySpanHz = 16384.0;
  bool precise = false;
  int candidates = 3;  // results kept per job, the strongest first
  std::string backend = "auto";
};

// One recording's part of a job: its window starts at sample `offset`.
struct JobSide {
  std::string name;
  std::string path;  // absolute
  std::string format;
  int channel = -1;
  long long offset = 0;
};

struct Job {
  std::string id;
  std::string digest;
  std::string campaign;
  JobSide first;
  JobSide second;
  long long window = 0;  // index on the campaign's window grid
  double rateHz = 0.0;
  int samples = 0;
  double tStartS = 0.0;  // campaign time of the first recording's window
  double tMidS = 0.0;
  // Added to every measured delay: the part of the start-time difference that whole-sample
  // alignment could not absorb.
  double alignmentResidualS = 0.0;
  SearchBlock search;
};

// "CAMPAIGN/A-B/w000012".
std::string jobId(const std::string& campaign, const std::string& first, const std::string& second,
                  long long window);

// Lines keep their fields in the order written, the id first, so that people can read them.
template <class Json>
Json searchJson(const SearchBlock& search) {
  Json object = Json::object();
  object["centre_us"] = search.centreUs;
  object["range_us"] = search.rangeUs;
  object["threshold_db"] = search.thresholdDb;
  object["frequency_span_hz"] = search.frequencySpanHz;
  object["precise"] = search.precise;
  object["candidates"] = search.candidates;
  object["backend"] = search.backend;
  return object;
}
nlohmann::ordered_json toJson(const Job& job);

// Reads a job line's object. Throws FieldError naming the field that is missing or of the wrong
// type.
Job jobFromJson(const nlohmann::json& object);

// FNV-1a 64 of a canonical form of everything that decides the job's result (paths, formats,
// channels, offsets, rate, samples, the search, the residual), not its id or its times; 16 hex
// digits.
std::string digestOf(const Job& job);

// Every job of a jobs file, each checked against its digest so that a hand-edited line is not
// taken for the job it was. Throws FieldError naming the file and line.
std::vector<Job> readJobsFile(const std::string& path);

}  // namespace kestrav::batch
