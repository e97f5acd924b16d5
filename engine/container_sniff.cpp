#include "engine/container_sniff.hpp"

#include <cstring>

namespace kestrav {
namespace {

bool startsWith(const unsigned char* bytes, std::size_t size, const char* magic, std::size_t length,
                std::size_t at = 0) {
  return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
}

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t skipBlanks(const unsigned char* bytes, std::size_t size, std::size_t i) {
  while (i < size && isBlank(bytes[i])) ++i;
  return i;
}

// A quoted key and its colon, at i: "name" : — the start of any object with members.
bool keyAt(const unsigned char* bytes, std::size_t size, std::size_t i) {
  if (i >= size || bytes[i] != '"') return false;
  for (++i; i < size && bytes[i] != '"'; ++i) {
    if (bytes[i] < 0x20) return false;
  }
  if (i >= size) return false;
  i = skipBlanks(bytes, size, i + 1);
  return i < size && bytes[i] == ':';
}

// An empty document ({} or []) followed by nothing but blanks.
bool emptyAt(const unsigned char* bytes, std::size_t size, std::size_t i, unsigned char close) {
  i = skipBlanks(bytes, size, i);
  return i < size && bytes[i] == close && skipBlanks(bytes, size, i + 1) == size;
}

// A JSON object (or an array of objects) that begins with a key: several exact bytes, so that
// samples which merely start with 0x7b or 0x5b are not mistaken for one.
bool looksLikeJson(const unsigned char* bytes, std::size_t size) {
  std::size_t i = startsWith(bytes, size, "\xef\xbb\xbf", 3) ? 3 : 0;
  i = skipBlanks(bytes, size, i);
  if (i >= size) return false;
  if (bytes[i] == '[') {
    const std::size_t inner = skipBlanks(bytes, size, i + 1);
    if (emptyAt(bytes, size, i + 1, ']')) return true;
    if (inner >= size || bytes[inner] != '{') return false;
    i = inner;
  }
  if (bytes[i] != '{') return false;
  return emptyAt(bytes, size, i + 1, '}') || keyAt(bytes, size, skipBlanks(bytes, size, i + 1));
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
