#include "batch/job_plan.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "batch/json_fields.hpp"
#include "engine/sample_format.hpp"
#include "engine/search_parameters.hpp"
#include "platform/host/errors.hpp"

namespace kestrav::batch {
namespace {

// Seconds from `origin` to `time`: whole seconds first, so that fractions keep their precision.
double secondsBetween(const StartTime& origin, const StartTime& time) {
  return static_cast<double>(time.seconds - origin.seconds) + (time.fraction - origin.fraction);
}

// The campaign's time origin: the earliest start among the receivers, when they have starts.
std::optional<StartTime> originOf(const std::vector<Receiver>& receivers) {
  std::optional<StartTime> origin;
  for (const Receiver& receiver : receivers) {
    if (!receiver.start) continue;
    if (!origin || secondsBetween(*origin, *receiver.start) < 0.0) origin = receiver.start;
  }
  return origin;
}

std::string withPrecision(double value) {
  std::ostringstream text;
  text.precision(17);
  text << value;
  return text.str();
}

// Runs of consecutive windows dropped for one reason, said as one line each.
class DropNotes {
 public:
  DropNotes(std::vector<std::string>& notes, std::string pair)
      : notes_(notes), pair_(std::move(pair)) {}
  ~DropNotes() { flush(); }
  // Drops windows [window, window + count).
  void drop(long long window, const std::string& reason, long long count = 1) {
    if (count < 1) return;
    if (count_ > 0 && (reason != reason_ || window != first_ + count_)) flush();
    if (count_ == 0) {
      first_ = window;
      reason_ = reason;
    }
    count_ += count;
    total_ += count;
  }
  void flush() {
    if (count_ == 0) return;
    const std::string windows = count_ == 1 ? "window " + std::to_string(first_)
                                            : "windows " + std::to_string(first_) + "-" +
                                                  std::to_string(first_ + count_ - 1);
    notes_.push_back("pair " + pair_ + ": " + windows + " dropped: " + reason_);
    count_ = 0;
  }
  long long total() const { return total_; }

 private:
  std::vector<std::string>& notes_;
  std::string pair_;
  long long first_ = 0;
  long long count_ = 0;
  long long total_ = 0;
  std::string reason_;
};

LagWindow lagWindowOf(const SearchBlock& search, double rate, long long samples) {
  SearchParameters parameters;
  parameters.sampleCount = static_cast<int>(samples);
  parameters.sampleRate = rate;
  parameters.centreDelay = search.centreUs * 1e-6;
  parameters.delayWindow = search.rangeUs * 1e-6;
  parameters.frequencySpan = search.frequencySpanHz;
  parameters.peakThreshold = search.thresholdDb;
  try {
    return validateSearch(parameters);
  } catch (const InputError& error) {
    throw FieldError("search", std::string(error.what()) + " (at " + withPrecision(rate) +
                                   " Hz, windows of " + std::to_string(samples) + " samples)");
  }
}

}  // namespace

Plan planJobs(const Campaign& campaign) {
  Plan plan;
  const std::optional<StartTime> origin = originOf(campaign.receivers);
  const auto startOf = [&](const Receiver& receiver) {
    return origin ? secondsBetween(*origin, *receiver.start) : 0.0;
  };
  const WindowGrid& grid = campaign.windows;
  const long long S = grid.samples;
  std::set<std::string> ids;
  long long dropped = 0;
  int refused = 0;
  for (const auto& [i, j] : campaign.pairs) {
    const Receiver& x = campaign.receivers[static_cast<std::size_t>(i)];
    const Receiver& y = campaign.receivers[static_cast<std::size_t>(j)];
    const std::string pairName = x.name + "-" + y.name;
    if (x.rateHz != y.rateHz) {
      plan.notes.push_back("pair " + pairName + " refused: the sample rates differ (" +
                           withPrecision(x.rateHz) + " Hz and " + withPrecision(y.rateHz) + " Hz)");
      ++refused;
      continue;
    }
    const double fs = x.rateHz;
    const LagWindow lags = lagWindowOf(campaign.search, fs, S);
    const double startX = startOf(x);
    const double startY = startOf(y);
    // Second-recording samples per first-recording sample at the same absolute time.
    const double shift = origin ? secondsBetween(*y.start, *x.start) * fs : 0.0;
    const long long countX = x.recording.samples;
    const long long countY = y.recording.samples;
    // No window starting at or after the earlier of the two ends, or the stop, can fit.
    double limit = std::min(startX + static_cast<double>(countX) / fs,
                            startY + static_cast<double>(countY) / fs);
    if (grid.stopS) limit = std::min(limit, *grid.stopS);

    DropNotes drops(plan.notes, pairName);
    // Windows starting a sample or more before the first recording's start cannot fit; they are
    // counted, not tried one by one (a start_s long before the recordings would take forever).
    const std::string beforeFirst = "it starts before the first sample of " + x.name;
    const long long skipped =
        std::max(0LL, static_cast<long long>(
                          std::floor((startX - grid.startS) * fs / static_cast<double>(grid.hop))) -
                          1);
    drops.drop(0, beforeFirst, skipped);
    for (long long w = skipped;; ++w) {
      const double t = grid.startS + static_cast<double>(w * grid.hop) / fs;
      if (t >= limit) break;
      const long long n1 = std::llround((t - startX) * fs);
      const double exact = static_cast<double>(n1) + shift;
      const long long n2 = std::llround(exact);
      const long long secondFrom = n2 + lags.firstLag;
      const long long secondTo = secondFrom + S + lags.lagCount;
      if (grid.stopS && (*grid.stopS - (startX + static_cast<double>(n1) / fs)) * fs <
                            static_cast<double>(S) - 1e-6) {
        drops.drop(w, "the trailing partial window runs past windows.stop_s");
      } else if (n1 < 0) {
        drops.drop(w, beforeFirst);
      } else if (n1 + S > countX) {
        drops.drop(w, "the trailing partial window runs past the end of " + x.name);
      } else if (secondFrom < 0) {
        drops.drop(w, "its delay window reaches before the first sample of " + y.name);
      } else if (secondTo > countY) {
        drops.drop(w, "its delay window reaches past the end of " + y.name);
      } else {
        Job job;
        job.campaign = campaign.name;
        job.id = jobId(campaign.name, x.name, y.name, w);
        if (!ids.insert(job.id).second) {
          throw FieldError("receivers", "two pairs give the job id " + job.id +
                                            "; rename receivers so that no two pairs' names "
                                            "joined by '-' are alike");
        }
        job.first = {x.name, x.path, formatName(x.recording.format), x.channel, n1};
        job.second = {y.name, y.path, formatName(y.recording.format), y.channel, n2};
        job.window = w;
        job.rateHz = fs;
        job.samples = static_cast<int>(S);
        job.tStartS = startX + static_cast<double>(n1) / fs;
        job.tMidS = startX + (static_cast<double>(n1) + static_cast<double>(S) / 2.0) / fs;
        // The second window starts (n2 - exact) samples after the first in absolute time, so a
        // signal shows that much earlier in it than it arrived: adding it back gives the delay.
        job.alignmentResidualS = (static_cast<double>(n2) - exact) / fs;
        job.search = campaign.search;
        job.digest = digestOf(job);
        plan.jobs.push_back(std::move(job));
      }
    }
    drops.flush();
    dropped += drops.total();
  }
  plan.notes.push_back(std::to_string(plan.jobs.size()) + " jobs from " +
                       std::to_string(campaign.pairs.size() - refused) + " pairs" +
                       (refused > 0 ? " (" + std::to_string(refused) + " refused)" : "") + ", " +
                       std::to_string(dropped) + " windows dropped");
  return plan;
}

}  // namespace kestrav::batch
