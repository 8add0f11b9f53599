#include "platform/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

RegularFile::~RegularFile() { Close(); }

RegularFile::OpenResult RegularFile::Open(const std::string& path) {
  Close();
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return OpenResult::Failed;
  if (!S_ISREG(info.st_mode)) return OpenResult::NotRegular;
  // Non-blocking: should the path have become a FIFO since, the open still
  // returns at once, and the check below refuses it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return OpenResult::Failed;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return OpenResult::NotRegular;
  }
  handle_ = fd;
  size_ = static_cast<std::uint64_t>(info.st_size);
  return OpenResult::Opened;
}

std::int64_t RegularFile::Read(char* buffer, std::size_t length) {
  if (handle_ == -1) return -1;
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

void RegularFile::Close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
}

}  // namespace platform
