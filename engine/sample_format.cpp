#include "engine/sample_format.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace kestrav {
namespace {

static_assert(std::endian::native == std::endian::little,
              "recordings are little-endian and read as they are stored");

struct FormatInfo {
  SampleFormat format;
  const char* name;
  int bytes;
};
constexpr FormatInfo Formats[] = {
    {SampleFormat::Ci16, "ci16", 4},
    {SampleFormat::Cf32, "cf32", 8},
    {SampleFormat::Ci8, "ci8", 2},
    {SampleFormat::Cu8, "cu8", 2},
};

const FormatInfo& infoOf(SampleFormat format) {
  for (const FormatInfo& info : Formats) {
    if (info.format == format) return info;
  }
  return Formats[0];
}

// The in-phase and quadrature values of stored sample i, as integers (not for cf32).
void integerPair(SampleFormat format, const unsigned char* bytes, std::size_t i, int& x, int& y) {
  switch (format) {
    case SampleFormat::Ci16: {
      std::int16_t pair[2];
      std::memcpy(pair, bytes + 4 * i, sizeof pair);
      x = pair[0];
      y = pair[1];
      return;
    }
    case SampleFormat::Ci8:
      x = static_cast<std::int8_t>(bytes[2 * i]);
      y = static_cast<std::int8_t>(bytes[2 * i + 1]);
      return;
    case SampleFormat::Cu8:
      x = bytes[2 * i] - 128;
      y = bytes[2 * i + 1] - 128;
      return;
    case SampleFormat::Cf32:
      break;
  }
  x = y = 0;
}

}  // namespace

const char* formatName(SampleFormat format) { return infoOf(format).name; }

std::optional<SampleFormat> formatNamed(std::string_view name) {
  for (const FormatInfo& info : Formats) {
    if (name == info.name) return info.format;
  }
  return std::nullopt;
}

int bytesPerSample(SampleFormat format) { return infoOf(format).bytes; }

bool fitsInt16(SampleFormat format) { return format != SampleFormat::Cf32; }

void convertToInt16(SampleFormat format, const unsigned char* bytes, std::size_t count,
                    short2* out) {
  if (format == SampleFormat::Ci16) {
    std::memcpy(out, bytes, count * sizeof(short2));
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    int x = 0, y = 0;
    integerPair(format, bytes, i, x, y);
    out[i] = short2{static_cast<short>(x), static_cast<short>(y)};
  }
}

void convertToFloat(SampleFormat format, const unsigned char* bytes, std::size_t count,
                    float2* out) {
  if (format == SampleFormat::Cf32) {
    std::memcpy(out, bytes, count * sizeof(float2));
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    int x = 0, y = 0;
    integerPair(format, bytes, i, x, y);
    out[i] = float2{static_cast<float>(x), static_cast<float>(y)};
  }
}

}  // namespace kestrav
