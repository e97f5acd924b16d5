#pragma once
// A campaign file: receivers and their recordings, the pairs to measure, the window grid and the
// search, read and checked before any job is made.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/job.hpp"
#include "engine/recording.hpp"

namespace kestrav::batch {

struct Receiver {
  std::string name;
  std::string path;  // as named, made absolute
  Recording recording;
  int channel = -1;
  double rateHz = 0.0;
  std::optional<StartTime> start;  // the time of sample 0, when known
};

struct WindowGrid {
  long long samples = 0;
  long long hop = 0;
  double startS = 0.0;          // campaign time of window 0
  std::optional<double> stopS;  // no window runs past it; absent: the recordings' ends
};

struct Campaign {
  std::string name;
  std::vector<Receiver> receivers;
  std::vector<std::pair<int, int>> pairs;  // receiver indices, first then second
  WindowGrid windows;
  SearchBlock search;
  std::vector<std::string> warnings;  // the recordings' own, said on standard error
};

// Reads and checks the campaign file; relative recording paths resolve against its folder.
// Throws FieldError naming the field (the file itself when it cannot be read or parsed).
Campaign readCampaign(const std::string& path);

}  // namespace kestrav::batch
