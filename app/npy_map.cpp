#include "app/npy_map.hpp"

#include <cstring>

#include "platform/host/errors.hpp"

namespace kestrav {

std::string formatNpy(const std::vector<float>& levels, std::uint64_t rows, std::uint64_t columns) {
  if (levels.size() != rows * columns) {
    throw InputError("the surface map does not hold its rows and columns");
  }
  std::string header = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                       std::to_string(rows) + ", " + std::to_string(columns) + "), }";
  // Magic, version and length take 10 bytes; the header ends in a newline at a multiple of 64.
  const std::size_t unpadded = 10 + header.size() + 1;
  header.append((64 - unpadded % 64) % 64, ' ');
  header += '\n';
  std::string bytes("\x93NUMPY\x01\x00", 8);
  const auto length = static_cast<std::uint16_t>(header.size());
  bytes += static_cast<char>(length & 0xff);
  bytes += static_cast<char>(length >> 8);
  bytes += header;
  const std::size_t start = bytes.size();
  bytes.resize(start + levels.size() * sizeof(float));
  // Little-endian float32: the machine's own layout on every supported host.
  if (!levels.empty())
    std::memcpy(bytes.data() + start, levels.data(), levels.size() * sizeof(float));
  return bytes;
}

}  // namespace kestrav
