#pragma once
// The jobs of a campaign: each pair's windows on the campaign's window grid, both recordings'
// windows starting at the same absolute time to the nearest whole sample.
#include <string>
#include <vector>

#include "batch/campaign.hpp"
#include "batch/job.hpp"

namespace kestrav::batch {

struct Plan {
  std::vector<Job> jobs;  // pairs in order, windows in time order within a pair
  // Pairs refused and windows dropped, each with its reason, then a summary.
  std::vector<std::string> notes;
};

// Throws FieldError where the campaign's search cannot run at its rate, or where two jobs would
// get the same id.
Plan planJobs(const Campaign& campaign);

}  // namespace kestrav::batch
