#include "platform/SingleInstance.h"

#include "platform/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
std::string LockDirectory() {
  std::string configured = EnvironmentValue("INVENTORY_PROVIDER_LOCK_DIR", "");
  if (!configured.empty()) return configured;
  if (access("/run/lock", W_OK) == 0) return "/run/lock";
  return "/tmp";
}

std::string LockFileName(const std::string& uniqueName) {
  std::string file;
  for (char c : uniqueName) file += (c == '/' || c == '\\') ? '_' : c;
  return LockDirectory() + "/" + file + ".lock";
}
}  // namespace

SingleInstanceGuard::~SingleInstanceGuard() { Release(); }

SingleInstanceGuard::Result SingleInstanceGuard::Acquire(const std::string& uniqueName) {
  Release();
  int fd = open(LockFileName(uniqueName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EACCES ? Result::AccessDenied : Result::CreateFailed;
  // Keep the file usable by every user, as a global event would be.
  fchmod(fd, 0666);
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
