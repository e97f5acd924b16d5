#include "tools/moving_scene.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace kestrav {
namespace {

using Complex = std::complex<double>;

constexpr int PulseSymbols = 8;   // the pulse reaches this many symbols each side
constexpr int PulseSteps = 1024;  // table points per symbol: linear interpolation at -100 dB

double rootRaisedCosine(double x, double rolloff) {
  const double pi = std::numbers::pi;
  if (std::fabs(x) < 1e-12) return 1.0 - rolloff + 4.0 * rolloff / pi;
  const double edge = 4.0 * rolloff * x;
  if (std::fabs(1.0 - edge * edge) < 1e-9) {
    return rolloff / std::sqrt(2.0) *
           ((1.0 + 2.0 / pi) * std::sin(pi / (4.0 * rolloff)) +
            (1.0 - 2.0 / pi) * std::cos(pi / (4.0 * rolloff)));
  }
  return (std::sin(pi * x * (1.0 - rolloff)) + edge * std::cos(pi * x * (1.0 + rolloff))) /
         (pi * x * (1.0 - edge * edge));
}

double symbolRateOf(const SceneConfig& config) {
  return config.symbolRate > 0.0 ? config.symbolRate : 0.25 * config.sampleRate;
}

}  // namespace

void validateScene(const SceneConfig& config) {
  if (config.receivers < 2 || config.receivers > 26) {
    throw std::invalid_argument("the receivers must number 2 to 26");
  }
  if (!(config.sampleRate > 0.0) || !std::isfinite(config.sampleRate)) {
    throw std::invalid_argument("the sample rate must be a finite number above 0");
  }
  if (!(config.seconds > 0.0) || !std::isfinite(config.seconds) ||
      config.seconds * config.sampleRate < 1.0 || config.seconds * config.sampleRate > 1 << 28) {
    throw std::invalid_argument("the recordings must hold 1 to 268435456 samples each");
  }
  if (!std::isfinite(config.snrDb)) throw std::invalid_argument("the SNR must be finite");
  if (!(config.rolloff >= 0.0 && config.rolloff <= 1.0)) {
    throw std::invalid_argument("the roll-off must lie in 0..1");
  }
  const double symbolRate = symbolRateOf(config);
  if (!std::isfinite(symbolRate) || symbolRate * (1.0 + config.rolloff) > config.sampleRate) {
    throw std::invalid_argument("the shaped emission must fit within the sample rate");
  }
}

long long sceneSampleCount(const SceneConfig& config) {
  return std::llround(config.seconds * config.sampleRate);
}

std::vector<SceneReceiver> drawReceivers(const SceneConfig& config) {
  validateScene(config);
  std::mt19937_64 random(config.seed ^ 0xd1b54a32d192ed03ULL);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
  std::vector<SceneReceiver> receivers(static_cast<std::size_t>(config.receivers));
  std::vector<double> startSamples;
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    SceneReceiver& receiver = receivers[k];
    receiver.name = std::string(1, static_cast<char>('A' + k));
    receiver.delay = between(0.0, 40e-6);
    receiver.delayRate = between(-4e-7, 4e-7);
    receiver.offset = between(-60.0, 60.0);
    receiver.offsetRate = between(-1.5, 1.5);
    startSamples.push_back(between(0.0, 300.0));
  }
  // The earliest receiver starts the campaign's clock.
  const double earliest = *std::min_element(startSamples.begin(), startSamples.end());
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    receivers[k].startPicoseconds =
        std::llround((startSamples[k] - earliest) / config.sampleRate * 1e12);
  }
  return receivers;
}

QpskEmission::QpskEmission(double symbolRate, double rolloff, std::uint64_t seed, double earliest,
                           double latest)
    : symbolPeriod_(1.0 / symbolRate) {
  const int points = 2 * PulseSymbols * PulseSteps + 1;
  pulse_.resize(static_cast<std::size_t>(points) + 1);
  double energy = 0.0;
  for (int i = 0; i < points; ++i) {
    const double x = static_cast<double>(i) / PulseSteps - PulseSymbols;
    // A taper to zero at the ends, so that cutting the pulse adds no step.
    const double taper = std::pow(std::cos(0.5 * std::numbers::pi * x / PulseSymbols), 2.0);
    pulse_[static_cast<std::size_t>(i)] = rootRaisedCosine(x, rolloff) * taper;
    energy += pulse_[static_cast<std::size_t>(i)] * pulse_[static_cast<std::size_t>(i)];
  }
  // Unit-power symbols through the pulse give a mean power of its energy per symbol.
  const double scale = 1.0 / std::sqrt(energy / PulseSteps);
  for (double& value : pulse_) value *= scale;

  firstSymbolTime_ = earliest - (PulseSymbols + 1) * symbolPeriod_;
  const auto count = static_cast<std::size_t>(std::ceil((latest - earliest) / symbolPeriod_) +
                                              2 * PulseSymbols + 3);
  symbols_.resize(count);
  std::mt19937_64 random(seed);
  const double amplitude = std::sqrt(0.5);
  std::uint64_t bits = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (k % 32 == 0) bits = random();
    symbols_[k] =
        Complex((bits & 1) != 0 ? amplitude : -amplitude, (bits & 2) != 0 ? amplitude : -amplitude);
    bits >>= 2;
  }
}

Complex QpskEmission::at(double time) const {
  const double x = (time - firstSymbolTime_) / symbolPeriod_;
  const auto nearest = static_cast<long long>(std::floor(x));
  Complex sum;
  for (long long k = nearest - PulseSymbols + 1; k <= nearest + PulseSymbols; ++k) {
    if (k < 0 || k >= static_cast<long long>(symbols_.size())) continue;
    const double position = (x - static_cast<double>(k) + PulseSymbols) * PulseSteps;
    const double floorPosition = std::floor(position);
    const auto i = static_cast<std::size_t>(floorPosition);
    const double fraction = position - floorPosition;
    const double value = pulse_[i] + fraction * (pulse_[i + 1] - pulse_[i]);
    sum += symbols_[static_cast<std::size_t>(k)] * value;
  }
  return sum;
}

QpskEmission sceneEmission(const SceneConfig& config, const std::vector<SceneReceiver>& receivers) {
  validateScene(config);
  const double last = static_cast<double>(sceneSampleCount(config) - 1) / config.sampleRate;
  double earliest = INFINITY;
  double latest = -INFINITY;
  for (const SceneReceiver& receiver : receivers) {
    for (const double t : {receiver.start(), receiver.start() + last}) {
      earliest = std::min(earliest, t - receiver.delayAt(t));
      latest = std::max(latest, t - receiver.delayAt(t));
    }
  }
  return QpskEmission(symbolRateOf(config), config.rolloff, config.seed, earliest, latest);
}

std::vector<Complex> recordScene(const SceneConfig& config, const QpskEmission& emission,
                                 const SceneReceiver& receiver, std::size_t index) {
  const auto n = static_cast<std::size_t>(sceneSampleCount(config));
  std::mt19937_64 random((config.seed + 0x9e3779b97f4a7c15ULL * (index + 1)) ^
                         0x94d049bb133111ebULL);
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5));
  std::uniform_real_distribution<double> turn(0.0, 2.0 * std::numbers::pi);
  const double carrierPhase = turn(random);
  const double noise = std::pow(10.0, -config.snrDb / 20.0);
  const double start = receiver.start();
  std::vector<Complex> samples(n);
  for (std::size_t i = 0; i < n; ++i) {
    // The sample's campaign time, the emission time that reaches the receiver then, and the
    // phase its offset has turned through since campaign time 0.
    const double t = start + static_cast<double>(i) / config.sampleRate;
    const double phase =
        carrierPhase +
        2.0 * std::numbers::pi * (receiver.offset * t + 0.5 * receiver.offsetRate * t * t);
    samples[i] = emission.at(t - receiver.delayAt(t)) * std::polar(1.0, phase) +
                 noise * Complex(normal(random), normal(random));
  }
  return samples;
}

}  // namespace kestrav
