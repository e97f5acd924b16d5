#pragma once
#include <stdexcept>
#include <string>

namespace kestrav {

// Failures that stop a search. Each carries the exit status the program reports for it:
// 2 when the input is the cause, 1 when the machine could not do the work.
class SearchError : public std::runtime_error {
 public:
  SearchError(const std::string& message, int exitStatus)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const noexcept { return exitStatus_; }

 private:
  int exitStatus_;
};

// The command line, a parameter or a recording cannot be used.
class InputError : public SearchError {
 public:
  explicit InputError(const std::string& message) : SearchError(message, 2) {}
};

// Memory or another resource of the machine ran out.
class ResourceError : public SearchError {
 public:
  explicit ResourceError(const std::string& message) : SearchError(message, 1) {}
};

}  // namespace kestrav
