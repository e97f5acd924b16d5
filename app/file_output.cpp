#include "app/file_output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links ends at (which need not exist yet). Relative link targets
// are taken from the link's own directory.
std::string followLinks(const std::string& path, const char* what) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = ::readlink(current.c_str(), target.data(), PATH_MAX);
    if (length < 0) failWrite(path, what, errno);
    const std::string next(target.data(), static_cast<std::size_t>(length));
    current = next.front() == '/' ? next : directoryOf(current) + "/" + next;
  }
  failWrite(path, what, ELOOP);
}

void writeAll(int descriptor, const std::string& content, const std::string& path, const char* what,
              const std::string& temporary) {
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t got = ::write(descriptor, content.data() + written, content.size() - written);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(descriptor);
      if (!temporary.empty()) ::unlink(temporary.c_str());
      failWrite(path, what, error);
    }
    written += static_cast<std::size_t>(got);
  }
}

// A FIFO or a device takes the bytes as they come: there is nothing to replace.
void writeDirectly(const std::string& target, const std::string& content, const std::string& path,
                   const char* what) {
  const int descriptor = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) failWrite(path, what, errno);
  writeAll(descriptor, content, path, what, "");
  if (::close(descriptor) != 0) failWrite(path, what, errno);
}

void replaceAtomically(const std::string& target, const std::string& content,
                       const std::string& path, const char* what) {
  std::string temporary = directoryOf(target) + "/.kestrav-XXXXXX";
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) failWrite(path, what, errno);
  writeAll(descriptor, content, path, what, temporary);
  // mkstemp creates the file private to its owner; give it the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(descriptor, 0666 & ~mask);
  if (::close(descriptor) != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    failWrite(path, what, error);
  }
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::string& content, const char* what) {
  const std::string target = followLinks(path, what);
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) {
    if (errno != ENOENT) failWrite(path, what, errno);
    replaceAtomically(target, content, path, what);
    return;
  }
  if (S_ISREG(status.st_mode)) {
    replaceAtomically(target, content, path, what);
  } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
    writeDirectly(target, content, path, what);
  } else {
    failWrite(path, what, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
  }
}

}  // namespace kestrav
