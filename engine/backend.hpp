#pragma once
// The narrow interface between the search driver and the compute backends: the coarse search
// over the delay window, and the two fine estimates of the refinement. The reference, host and
// CUDA backends implement it side by side; the driver, peak picking, loading and front end are
// written once against it.
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sample_segments.hpp"
#include "gpu/vector_types.hpp"
#include "tdc/lag_cell.hpp"

namespace kestrav {

// Told, from any thread, how many lags of the window the coarse search has finished.
using CoarseProgress = std::function<void(int lagsDone)>;

// The coarse search's input: the two loaded segments and the search's physical parameters.
// The segments are int16 pairs (first, second) or, from float recordings, float pairs
// (firstFloat, secondFloat, which then take the place of the others).
struct CoarseRequest {
  std::span<const short2> first;   // sampleCount samples
  std::span<const short2> second;  // sampleCount + lagCount samples
  int sampleCount = 0;             // N, as lowered by the loader
  int lagCount = 0;
  double sampleRate = 0.0;     // hertz
  double frequencySpan = 0.0;  // hertz; fixes the decimation
  CoarseProgress progress;     // optional; called now and then with the lags done so far
  std::span<const float2> firstFloat{};  // initialised, so that a request may leave them out
  std::span<const float2> secondFloat{};

  bool holdsFloats() const {
    return firstFloat.data() != nullptr || secondFloat.data() != nullptr;
  }
};

// One fine estimate's input: the first segment and the second segment's samples from the
// candidate's lag on, sampleCount samples each: int16 pairs, or float pairs in firstFloat and
// secondFloat.
struct FineRequest {
  const short2* first = nullptr;
  const short2* second = nullptr;
  int sampleCount = 0;
  double sampleRate = 0.0;       // hertz
  double frequencyOffset = 0.0;  // hertz: the candidate's offset, removed from the second segment
  int traceHalfWidth = 0;        // zoom points kept on each side of the maximum (0: none)
  const float2* firstFloat = nullptr;
  const float2* secondFloat = nullptr;

  bool holdsFloats() const { return firstFloat != nullptr || secondFloat != nullptr; }
};

struct FineEstimate {
  double correction = 0.0;  // hertz or seconds, added to the candidate
  int zoomIndex = -1;       // the strongest zoom point; -1 when no zoom ran
  int zoomPoints = 0;       // number of zoom points evaluated
  double gridStart = 0.0;   // where zoom point 0 lies (hertz or seconds, as the correction)
  double gridStep = 0.0;    // the true spacing of the zoom points (span / zoomPoints)
  // The zoom's power at points traceFirst .. traceFirst + trace.size() - 1: the maximum and up to
  // traceHalfWidth points on each side, when the request asks for them.
  int traceFirst = 0;
  std::vector<double> trace;
};

// The two corrections of one candidate: the frequency first, then the delay estimated with the
// second segment shifted down by the corrected frequency offset.
struct Refinement {
  FineEstimate frequency;
  FineEstimate delay;
};

class PrecisePrimitives;

class ComputeBackend {
 public:
  virtual ~ComputeBackend();
  virtual std::string_view name() const = 0;
  // Writes cells[k] for every lag k < lagCount; cells.size() == lagCount.
  virtual void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) = 0;
  // Refines one candidate whose offset is request.frequencyOffset (sampleCount >= 2048).
  virtual Refinement refine(const FineRequest& request) = 0;
  // The transforms the precise estimate is made of; the host's unless a backend has its own.
  virtual PrecisePrimitives& precisePrimitives();

 private:
  std::shared_ptr<PrecisePrimitives> hostPrimitives_;  // shared: the type is incomplete here
};

enum class BackendKind { Automatic, Reference, Host, Cuda };

// The plain loops that follow the formulas; the yardstick of every other backend.
std::unique_ptr<ComputeBackend> makeReferenceBackend();
// The host backend on FFTW.
std::unique_ptr<ComputeBackend> makeHostBackend();
// The backends compiled into this build ("reference, host" or "reference, host, cuda").
std::string compiledBackends();
// The GPU the CUDA backend would use, or why there is none.
std::string gpuDescription();

// The CUDA backend when a usable device is present; otherwise null, with the reason in whyNot
// (when not null). Defined only in builds with CUDA.
std::unique_ptr<ComputeBackend> makeCudaBackend(std::string* whyNot);
// The backend of the given kind. Automatic picks the CUDA backend when a usable device is
// present and the host backend otherwise. Throws InputError when a kind is not available.
std::unique_ptr<ComputeBackend> makeBackend(BackendKind kind);

}  // namespace kestrav
