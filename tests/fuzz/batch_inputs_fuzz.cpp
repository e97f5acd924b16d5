// The batch program's inputs on arbitrary bytes: a campaign file (beside two small recordings it
// may name), a jobs file, and a shard's result file read by status and merge (where @I and @D
// stand for a planned job's id and digest). Each is used or
// refused with a status and a line; nothing else may happen.
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "batch/commands.hpp"
#include "batch/merge_command.hpp"

namespace {

void writeFile(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// A folder holding two short ci16 recordings a campaign may name, and a valid plan over them.
struct Scene {
  std::string folder;
  std::string validJobs;
  std::string firstId;      // of the valid plan's first job, put where a result line says @I
  std::string firstDigest;  // and its digest, where it says @D
};

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

const Scene& scene() {
  static const Scene made = [] {
    char pattern[] = "/tmp/kestrav-batch-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    Scene result{pattern, std::string(pattern) + "/valid-jobs.jsonl", {}, {}};
    std::vector<std::int16_t> samples(2 * 8192);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<std::int16_t>((i * 7919u) % 2001u) - 1000;
    }
    writeFile(result.folder + "/a.iq", samples.data(), samples.size() * sizeof(std::int16_t));
    writeFile(result.folder + "/b.iq", samples.data(), samples.size() * sizeof(std::int16_t));
    const std::string campaign =
        R"({"campaign": "f", "receivers": [)"
        R"({"name": "A", "recording": {"path": "a.iq", "format": "ci16", "rate_hz": 1e6}},)"
        R"({"name": "B", "recording": {"path": "b.iq", "format": "ci16", "rate_hz": 1e6}}],)"
        R"("pairs": "all", "windows": {"samples": 2048},)"
        R"("search": {"centre_us": 0, "range_us": 100, "threshold_db": 15}})";
    writeFile(result.folder + "/valid.json", campaign.data(), campaign.size());
    std::ostringstream jobs, ignored;
    if (kestrav::batch::runPlanCommand({result.folder + "/valid.json"}, jobs, ignored) != 0) {
      std::abort();
    }
    const std::string text = jobs.str();
    writeFile(result.validJobs, text.data(), text.size());
    const auto first = nlohmann::json::parse(text.substr(0, text.find('\n')));
    result.firstId = first.at("id").get<std::string>();
    result.firstDigest = first.at("digest").get<std::string>();
    return result;
  }();
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Scene& made = scene();
  const int kind = data[0] % 3;
  ++data;
  --size;
  std::ostringstream out, err;
  using namespace kestrav::batch;
  if (kind == 0) {
    const std::string campaign = made.folder + "/campaign.json";
    writeFile(campaign, data, size);
    runPlanCommand({campaign}, out, err);
    return 0;
  }
  const std::string results = made.folder + "/results";
  std::filesystem::remove_all(results);
  std::filesystem::create_directory(results);
  std::string jobs = made.validJobs;
  if (kind == 1) {
    jobs = made.folder + "/jobs.jsonl";
    writeFile(jobs, data, size);
  } else {
    // Result lines may name the first planned job, so that merge reaches its tracks.
    std::string lines(reinterpret_cast<const char*>(data), size);
    replaceAll(lines, "@I", made.firstId);
    replaceAll(lines, "@D", made.firstDigest);
    writeFile(results + "/shard-0-of-1.fuzz-1-1.jsonl", lines.data(), lines.size());
  }
  runStatusCommand({jobs, results}, out, err);
  runMergeCommand({jobs, results, "--out", made.folder + "/tracks.jsonl", "--csv-dir",
                   made.folder + "/csv", "--plot", made.folder + "/tracks.svg"},
                  out, err);
  return 0;
}
