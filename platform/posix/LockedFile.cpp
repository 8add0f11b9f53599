#include "platform/LockedFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {
// Paths are often built the Windows way; here both separators mean "/".
std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}
}  // namespace

LockedFile::~LockedFile() { Close(); }

LockedFile::OpenResult LockedFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return OpenResult::Failed;
  int fd;
  do {
    fd = open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenResult::Failed;
  // Each open has its own open file description, so the lock also keeps out
  // other objects and threads of this process.
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? OpenResult::Busy : OpenResult::Failed;
  }
  handle_ = fd;
  return OpenResult::Opened;
}

bool LockedFile::ReadAll(std::string& content) {
  content.clear();
  if (handle_ < 0) return false;
  if (lseek(handle_, 0, SEEK_SET) != 0) return false;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(handle_, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    content.append(buffer, static_cast<std::size_t>(n));
  }
}

bool LockedFile::ReplaceContent(const char* data, std::size_t length) {
  if (handle_ < 0) return false;
  if (lseek(handle_, 0, SEEK_SET) != 0) return false;
  if (ftruncate(handle_, 0) != 0) return false;
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = write(handle_, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool LockedFile::Flush() {
  if (handle_ < 0) return false;
  int rc;
  do {
    rc = fsync(handle_);
  } while (rc != 0 && errno == EINTR);
  // Special files cannot be synced; their data is with the system already.
  return rc == 0 || errno == EINVAL;
}

bool LockedFile::Close() {
  if (handle_ < 0) return true;
  int fd = handle_;
  handle_ = -1;
  // On Linux the descriptor is gone even when close reports EINTR.
  return close(fd) == 0 || errno == EINTR;
}

}  // namespace platform
