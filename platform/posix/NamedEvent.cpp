#include "platform/NamedEvent.h"

#include <cerrno>
#include <fcntl.h>
#include <semaphore.h>
#include <time.h>

namespace platform {

namespace {
std::string SemaphoreName(const std::string& name) {
  std::string result = "/";
  for (char c : name) result += (c == '/' || c == '\\') ? '_' : c;
  return result;
}
sem_t* Sem(void* handle) { return static_cast<sem_t*>(handle); }
}  // namespace

NamedEvent::~NamedEvent() { Close(); }

bool NamedEvent::Create(const std::string& name) {
  Close();
  name_ = SemaphoreName(name);
  sem_unlink(name_.c_str());
  sem_t* sem = sem_open(name_.c_str(), O_CREAT | O_EXCL, 0666, 0);
  if (sem == SEM_FAILED) return false;
  handle_ = sem;
  created_ = true;
  return true;
}

bool NamedEvent::OpenExisting(const std::string& name) {
  Close();
  name_ = SemaphoreName(name);
  sem_t* sem = sem_open(name_.c_str(), 0);
  if (sem == SEM_FAILED) return false;
  handle_ = sem;
  created_ = false;
  return true;
}

bool NamedEvent::Set() { return handle_ != nullptr && sem_post(Sem(handle_)) == 0; }

void NamedEvent::Reset() {
  if (handle_ == nullptr) return;
  while (sem_trywait(Sem(handle_)) == 0) {
  }
}

bool NamedEvent::Wait(unsigned timeoutMilliseconds) {
  if (handle_ == nullptr) return false;
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeoutMilliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMilliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (sem_timedwait(Sem(handle_), &deadline) != 0) {
    if (errno != EINTR) return false;
  }
  // Manual-reset semantics: once set it stays set for later waiters.
  sem_post(Sem(handle_));
  return true;
}

void NamedEvent::Close() {
  if (handle_ != nullptr) {
    sem_close(Sem(handle_));
    if (created_) sem_unlink(name_.c_str());
    handle_ = nullptr;
  }
  created_ = false;
}

}  // namespace platform
