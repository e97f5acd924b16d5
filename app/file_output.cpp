#include "app/file_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

[[noreturn]] void failWrite(const std::string& path, const char* what, int error) {
  const std::string message =
      std::string("cannot write ") + what + " to '" + path + "': " + std::strerror(error);
  if (error == ENOSPC || error == EIO || error == EDQUOT || error == ENOMEM) {
    throw ResourceError(message);
  }
  throw InputError(message);
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::string& content, const char* what) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string temporary = directory + (slash == std::string::npos ? "/" : "") + ".kestrav-XXXXXX";
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) failWrite(path, what, errno);
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t got = ::write(descriptor, content.data() + written, content.size() - written);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(descriptor);
      ::unlink(temporary.c_str());
      failWrite(path, what, error);
    }
    written += static_cast<std::size_t>(got);
  }
  // mkstemp creates the file private to its owner; give it the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(descriptor, 0666 & ~mask);
  if (::close(descriptor) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    failWrite(path, what, error);
  }
}

}  // namespace kestrav
