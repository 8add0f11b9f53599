#include "platform/LockedFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// A writer replaces the file by renaming a new one over it, so a descriptor
// can outlive the name it was opened by.
bool NamesOpenFile(int fd, const std::string& native) {
  struct stat open, named;
  if (fstat(fd, &open) != 0 || stat(native.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The file at the end of any symbolic links: the replacement must take the
// target's place, not the link's.
std::string FinalPath(const std::string& native) {
  char* resolved = realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return native;
  std::string path = resolved;
  std::free(resolved);
  return path;
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SyncFile(int fd) {
  int rc;
  do {
    rc = fsync(fd);
  } while (rc != 0 && errno == EINTR);
  // Special files cannot be synced; their data is with the system already.
  return rc == 0 || errno == EINVAL;
}

bool WriteInPlace(int fd, const char* data, std::size_t length) {
  if (lseek(fd, 0, SEEK_SET) != 0) return false;
  if (ftruncate(fd, 0) != 0) return false;
  return WriteAll(fd, data, length);
}

// How often Open tries again at once when the file it locked was replaced
// meanwhile, before it reports the file as busy.
const int kReplacedRetries = 100;
}  // namespace

LockedFile::~LockedFile() { Close(); }

LockedFile::OpenResult LockedFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return OpenResult::Failed;
  const std::string native = NativePath(path);
  for (int attempt = 0;; ++attempt) {
    int fd;
    do {
      fd = open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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
    // The lock is only worth something on the file the path names now: the
    // one it was waiting for may have been replaced by its holder.
    if (NamesOpenFile(fd, native)) {
      handle_ = fd;
      // Resolved now, so that a later change of folder cannot redirect the save.
      path_ = FinalPath(native);
      return OpenResult::Opened;
    }
    close(fd);
    if (attempt >= kReplacedRetries) return OpenResult::Busy;
  }
}

bool LockedFile::ReadAll(std::string& content) {
  content.clear();
  if (handle_ < 0) return false;
  const int fd = static_cast<int>(handle_);
  if (lseek(fd, 0, SEEK_SET) != 0) return false;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    content.append(buffer, static_cast<std::size_t>(n));
  }
}

bool LockedFile::ReplaceContent(const char* data, std::size_t length) {
  replacedWhole_ = false;
  if (handle_ < 0) return false;
  const int fd = static_cast<int>(handle_);
  struct stat current;
  if (fstat(fd, &current) != 0) return false;
  if (!S_ISREG(current.st_mode)) return WriteInPlace(fd, data, length);
  // The new content goes to a file of its own, which is renamed over the old
  // one once complete: a kill at any moment leaves one or the other whole.
  // Only the lock holder writes the temporary file, so its name is fixed and
  // a leftover of a killed writer is simply overwritten.
  const std::string& target = path_;
  const std::string temporary = target + ".tmp";
  int replacement;
  do {
    replacement = open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  } while (replacement < 0 && errno == EINTR);
  // A folder this process may not create files in: the old way is all there is.
  if (replacement < 0) return WriteInPlace(fd, data, length);
  // The replacement is locked before it takes the name, so that openers
  // that find it there wait for this holder as before.
  bool written = flock(replacement, LOCK_EX | LOCK_NB) == 0;
  if (written) {
    if (fchown(replacement, current.st_uid, current.st_gid) != 0) {
      // Not permitted for others' files: the file becomes this user's.
    }
    written = fchmod(replacement, current.st_mode & 07777) == 0 && WriteAll(replacement, data, length) &&
              SyncFile(replacement);
  }
  if (written && std::rename(temporary.c_str(), target.c_str()) == 0) {
    close(fd);
    handle_ = replacement;
    replacedWhole_ = true;
    return true;
  }
  close(replacement);
  unlink(temporary.c_str());
  // A full disk keeps the former content; a name this process may not
  // replace (a sticky folder, say) is written the old way.
  return written && WriteInPlace(fd, data, length);
}

bool LockedFile::Flush() {
  if (handle_ < 0) return false;
  return SyncFile(static_cast<int>(handle_));
}

bool LockedFile::Close() {
  if (handle_ < 0) return true;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  // On Linux the descriptor is gone even when close reports EINTR.
  return close(fd) == 0 || errno == EINTR;
}

}  // namespace platform
