#include "engine/container_sniff.hpp"

#include <cstring>

namespace kestrav {
namespace {

bool startsWith(const unsigned char* bytes, std::size_t size, const char* magic, std::size_t length,
                std::size_t at = 0) {
  return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
}

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A JSON object or array: '{' or '[' then, past blanks, what a document's next token must be.
// Checking the second token keeps recordings that merely start with 0x7b from being refused.
bool looksLikeJson(const unsigned char* bytes, std::size_t size) {
  std::size_t i = 0;
  if (startsWith(bytes, size, "\xef\xbb\xbf", 3)) i = 3;
  while (i < size && isBlank(bytes[i])) ++i;
  if (i >= size || (bytes[i] != '{' && bytes[i] != '[')) return false;
  const unsigned char open = bytes[i++];
  std::size_t blanks = 0;
  while (i < size && isBlank(bytes[i])) ++i, ++blanks;
  if (i >= size) return blanks > 0;
  if (open == '{') return bytes[i] == '"' || bytes[i] == '}';
  return bytes[i] == '{' || bytes[i] == '"' || bytes[i] == ']' || (blanks > 0 && bytes[i] == '[');
}

}  // namespace

std::string containerKind(const unsigned char* bytes, std::size_t size) {
  // Sony Wave64 begins with the GUID of its "riff" chunk.
  static const char W64[] = "riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb\x04\xc1\x00\x00";
  if (startsWith(bytes, size, "RIFF", 4) || startsWith(bytes, size, "RIFX", 4)) {
    return "a WAV file (RIFF)";
  }
  if (startsWith(bytes, size, "RF64", 4)) return "a WAV file (RF64)";
  if (startsWith(bytes, size, W64, 16)) return "a WAV file (W64)";
  if (startsWith(bytes, size, "ustar", 5, 257)) return "a tar archive (a SigMF archive?)";
  if (startsWith(bytes, size, "PK\x03\x04", 4) || startsWith(bytes, size, "PK\x05\x06", 4)) {
    return "a zip archive";
  }
  if (looksLikeJson(bytes, size)) return "a JSON document (SigMF metadata?)";
  return "";
}

}  // namespace kestrav
