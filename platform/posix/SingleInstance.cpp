#include "platform/SingleInstance.h"

#include "platform/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// A folder that no one but root can change: no other user can plant a file
// or a link there, nor take the lock first.
bool OnlyRootWrites(const char* folder) {
  struct stat info;
  return stat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == 0 &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The folder of the lock file; empty when none fits. A folder given in the
// environment is taken as given (whoever starts the provider chose it).
std::string LockDirectory() {
  std::string configured = EnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", "");
  if (!configured.empty()) return configured;
  if (geteuid() == 0) {
    // /run/lock and /tmp are open to every user: a root process keeps its
    // lock where only root can write.
    for (const char* folder : {"/run/lock", "/run", "/var/run"})
      if (OnlyRootWrites(folder)) return folder;
    return std::string();
  }
  if (access("/run/lock", W_OK) == 0) return "/run/lock";
  return "/tmp";
}

// Opens the lock file without following a link and without blocking on a
// FIFO or device planted in its place. A file created here is made readable
// by every user, whose providers then see the lock (a lock needs no write
// access); an existing file's mode is never changed.
int OpenLockFile(const std::string& path) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
      fchmod(fd, 0644);
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = open(path.c_str(), flags);
    if (fd >= 0) return fd;
    if (errno != ENOENT) return -1;  // removed in between: create it again
  }
  return -1;
}
}  // namespace

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

SingleInstanceGuard::Result SingleInstanceGuard::Acquire(const std::string& uniqueName) {
  Release();
  std::string folder = LockDirectory();
  if (folder.empty()) return Result::CreateFailed;
  std::string file;
  for (char c : uniqueName) file += (c == '/' || c == '\\') ? '_' : c;
  int fd = OpenLockFile(folder + "/" + file + ".lock");
  if (fd < 0) return errno == EACCES ? Result::AccessDenied : Result::CreateFailed;
  // Only a plain file with one name is a lock; anything else was put there.
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    close(fd);
    return Result::CreateFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? Result::HeldByAnother : Result::CreateFailed;
  }
  handle_ = fd;
  return Result::Acquired;
}

void SingleInstanceGuard::Release() {
  if (handle_ >= 0) {
    close(handle_);
    handle_ = -1;
  }
}

}  // namespace platform
