#pragma once
// FFTW wisdom kept between the processes of a campaign in one file, so that each shard plans
// its transforms once for all of them. The file holds both precisions' wisdom; it is replaced
// whole (written beside it, then renamed), and merged under a lock, so that shards ending
// together neither corrupt it nor lose each other's plans.
#include <optional>
#include <string>

namespace kestrav::batch {

// Imports the file's wisdom when it exists. Returns a warning when it cannot be used (the
// planner then starts without it); nothing when all went well or there is no file.
std::optional<std::string> importWisdom(const std::string& path);

// Merges this process's wisdom into the file. Returns a warning when it cannot be written.
std::optional<std::string> exportWisdom(const std::string& path);

}  // namespace kestrav::batch
