#pragma once
// Turns a fuzzer's bytes into an argument vector: arguments are separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrav::fuzzing {

inline std::vector<std::string> splitArguments(const std::uint8_t* data, std::size_t size,
                                               std::size_t maxArguments = 64) {
  std::vector<std::string> arguments{"kestrav"};
  std::string current;
  for (std::size_t i = 0; i < size && arguments.size() < maxArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && arguments.size() < maxArguments) arguments.push_back(current);
  return arguments;
}

inline std::vector<const char*> argumentPointers(const std::vector<std::string>& arguments) {
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  return pointers;
}

}  // namespace kestrav::fuzzing
