#pragma once
// The sample formats a recording may have: little-endian complex pairs, in-phase first.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host/vector_types.hpp"

namespace kestrav {

enum class SampleFormat {
  Ci16,  // int16 pairs: the program's own format
  Cf32,  // float32 pairs
  Ci8,   // int8 pairs
  Cu8,   // uint8 pairs, offset binary: 128 is zero
};

const char* formatName(SampleFormat format);  // "ci16", "cf32", "ci8", "cu8"
std::optional<SampleFormat> formatNamed(std::string_view name);
int bytesPerSample(SampleFormat format);
// Whether the format's samples are held as int16 pairs without loss (all but cf32).
bool fitsInt16(SampleFormat format);

// Converts `count` stored samples to int16 pairs without scaling (not for cf32).
void convertToInt16(SampleFormat format, const unsigned char* bytes, std::size_t count,
                    short2* out);
// Converts `count` stored samples to float pairs; integer samples keep their values.
void convertToFloat(SampleFormat format, const unsigned char* bytes, std::size_t count,
                    float2* out);

}  // namespace kestrav
