#include "engine/sigmf_archive.hpp"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

constexpr long long Block = 512;
constexpr long long MaxMetadataBytes = 64LL << 20;

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string field(const unsigned char* header, int at, int length) {
  const char* start = reinterpret_cast<const char*>(header + at);
  return std::string(start, strnlen(start, static_cast<std::size_t>(length)));
}

// Octal digits, or GNU's base-256 form for sizes beyond 8 GiB.
std::optional<long long> numberField(const unsigned char* header, int at, int length) {
  if (header[at] & 0x80) {
    if (header[at] == 0xff) return std::nullopt;  // negative
    long long value = header[at] & 0x7f;
    for (int i = 1; i < length; ++i) {
      if (value > (LLONG_MAX >> 8)) return std::nullopt;
      value = (value << 8) | header[at + i];
    }
    return value;
  }
  long long value = 0;
  int i = 0;
  while (i < length && header[at + i] == ' ') ++i;
  bool digits = false;
  for (; i < length && header[at + i] >= '0' && header[at + i] <= '7'; ++i) {
    if (value > (LLONG_MAX >> 3)) return std::nullopt;
    value = value * 8 + (header[at + i] - '0');
    digits = true;
  }
  for (; i < length; ++i) {
    if (header[at + i] != ' ' && header[at + i] != '\0') return std::nullopt;
  }
  if (!digits) return std::nullopt;
  return value;
}

bool checksumMatches(const unsigned char* header) {
  const std::optional<long long> stored = numberField(header, 148, 8);
  if (!stored) return false;
  long long sum = 0;
  for (int i = 0; i < Block; ++i) sum += (i >= 148 && i < 156) ? ' ' : header[i];
  return sum == *stored;
}

void readAt(int descriptor, void* buffer, long long length, long long offset,
            const std::string& about) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  long long done = 0;
  while (done < length) {
    const ssize_t got = ::pread(descriptor, bytes + done, static_cast<std::size_t>(length - done),
                                static_cast<off_t>(offset + done));
    if (got <= 0) throw InputError(about + " ends inside a member: the archive is cut short");
    done += got;
  }
}

// The path and size records of a pax extended header ("LENGTH key=value\n" each).
void readPax(const std::string& text, std::string& path, long long& size) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    if (space == std::string::npos) return;
    const long long length = std::atoll(text.c_str() + at);
    if (length <= 0 || at + static_cast<std::size_t>(length) > text.size()) return;
    const std::string record =
        text.substr(space + 1, at + static_cast<std::size_t>(length) - space - 2);
    const std::size_t equals = record.find('=');
    if (equals != std::string::npos) {
      const std::string key = record.substr(0, equals);
      const std::string value = record.substr(equals + 1);
      if (key == "path") path = value;
      if (key == "size") size = std::atoll(value.c_str());
    }
    at += static_cast<std::size_t>(length);
  }
}

std::string compressionOf(const unsigned char* bytes) {
  if (bytes[0] == 0x1f && bytes[1] == 0x8b) return "gzip";
  if (std::memcmp(bytes, "BZh", 3) == 0) return "bzip2";
  if (std::memcmp(bytes,
                  "\xfd"
                  "7zXZ",
                  5) == 0)
    return "xz";
  if (std::memcmp(bytes, "\x28\xb5\x2f\xfd", 4) == 0) return "zstd";
  return "";
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<TarMember> listTarMembers(int descriptor, long long size, const std::string& about) {
  std::vector<TarMember> members;
  unsigned char header[Block];
  if (size < Block) throw InputError(about + " is too short to be a tar archive");
  readAt(descriptor, header, Block, 0, about);
  const std::string compression = compressionOf(header);
  if (!compression.empty()) {
    throw InputError(about + " is " + compression +
                     "-compressed; SigMF archives are plain tar: decompress it first");
  }
  std::string longName;
  long long paxSize = -1;  // a pax header's size for the next member; -1 when none
  long long at = 0;
  while (at < size) {
    if (at + Block > size)
      throw InputError(about + " ends inside a header: the archive is cut short");
    readAt(descriptor, header, Block, at, about);
    if (std::all_of(header, header + Block, [](unsigned char b) { return b == 0; })) break;
    if (!checksumMatches(header)) {
      throw InputError(about + (at == 0
                                    ? " is not a tar archive"
                                    : " has a damaged tar header at byte " + std::to_string(at)));
    }
    const std::optional<long long> stored = numberField(header, 124, 12);
    if (!stored || *stored < 0) {
      throw InputError(about + " has a tar header with an unreadable size at byte " +
                       std::to_string(at));
    }
    const long long memberSize = paxSize >= 0 ? paxSize : *stored;
    const long long dataAt = at + Block;
    if (memberSize > size - dataAt) {
      throw InputError(about + " ends inside a member: the archive is cut short");
    }
    const char type = static_cast<char>(header[156]);
    if (type == 'L' || type == 'x') {
      if (memberSize > MaxMetadataBytes) throw InputError(about + " has an oversized tar header");
      std::string text(static_cast<std::size_t>(memberSize), '\0');
      readAt(descriptor, text.data(), memberSize, dataAt, about);
      if (type == 'L') {
        longName = text.c_str();
      } else {
        readPax(text, longName, paxSize);
      }
    } else {
      if (type == '0' || type == '\0' || type == '7') {
        std::string name = field(header, 0, 100);
        if (std::memcmp(header + 257, "ustar\0", 6) == 0 && header[345] != 0) {
          name = field(header, 345, 155) + "/" + name;
        }
        members.push_back({longName.empty() ? name : longName, dataAt, memberSize});
      }
      longName.clear();
      paxSize = -1;
    }
    at = dataAt + (memberSize + Block - 1) / Block * Block;
  }
  return members;
}

ArchivedRecording findArchivedRecording(int descriptor, long long size, const std::string& path,
                                        const std::string& about) {
  const std::vector<TarMember> members = listTarMembers(descriptor, size, about);
  std::vector<const TarMember*> metas;
  for (const TarMember& member : members) {
    if (endsWith(member.name, ".sigmf-meta")) metas.push_back(&member);
  }
  if (metas.empty()) throw InputError(about + " holds no .sigmf-meta member");
  const TarMember* meta = metas.size() == 1 ? metas.front() : nullptr;
  if (meta == nullptr) {
    // A collection of several recordings: the one named like the archive is meant.
    std::string stem = baseName(path);
    stem = stem.substr(0, stem.size() - std::strlen(".sigmf"));
    for (const TarMember* candidate : metas) {
      if (baseName(candidate->name) == stem + ".sigmf-meta") meta = candidate;
    }
    if (meta == nullptr) {
      throw InputError(about + " holds " + std::to_string(metas.size()) +
                       " recordings and none is named '" + stem + ".sigmf-meta'");
    }
  }
  if (meta->size > MaxMetadataBytes) throw InputError(about + " has an oversized metadata member");
  ArchivedRecording recording;
  recording.metaName = meta->name;
  recording.metaText.resize(static_cast<std::size_t>(meta->size));
  readAt(descriptor, recording.metaText.data(), meta->size, meta->offset, about);
  const std::string dataName =
      meta->name.substr(0, meta->name.size() - std::strlen(".sigmf-meta")) + ".sigmf-data";
  for (const TarMember& member : members) {
    if (member.name == dataName) {
      recording.data = member;
      return recording;
    }
  }
  throw InputError(about + " holds '" + meta->name + "' but no '" + dataName + "'");
}

}  // namespace kestrav
