#include "platform/ChildProcess.h"

#include "platform/Process.h"
#include "platform/posix/CommandLineSplit.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {
void CloseFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

long ReadFd(int fd, char* buffer, std::size_t size) {
  if (fd < 0) return -1;
  for (;;) {
    ssize_t n = read(fd, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

std::vector<std::string> MergedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& additions) {
  std::vector<std::string> result;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& add : additions) replaced = replaced || add.first == name;
    if (!replaced) result.push_back(entry);
  }
  for (const auto& add : additions) result.push_back(add.first + "=" + add.second);
  return result;
}

// The pipes of one start: the standard streams asked for, and the one on
// which the child reports an exec failure (it closes on success).
struct StartPipes {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, status[2] = {-1, -1};

  bool Make(const ChildProcessOptions& options) {
    auto makePipe = [](int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; };
    using Stream = ChildProcessOptions::Stream;
    bool ok = true;
    if (options.input == Stream::Pipe) ok = ok && makePipe(in);
    if (options.output == Stream::Pipe) ok = ok && makePipe(out);
    if (!options.mergeErrorIntoOutput && options.error == Stream::Pipe) ok = ok && makePipe(err);
    return ok && makePipe(status);
  }
  void CloseChildEnds() {
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    CloseFd(status[1]);
  }
  void CloseAll() {
    for (int* p : {in, out, err, status}) {
      CloseFd(p[0]);
      CloseFd(p[1]);
    }
  }
};

void Redirect(ChildProcessOptions::Stream mode, int pipeEnd, int target, int openFlags) {
  if (mode == ChildProcessOptions::Stream::Pipe) {
    dup2(pipeEnd, target);
  } else if (mode == ChildProcessOptions::Stream::Null) {
    int fd = open("/dev/null", openFlags);
    if (fd >= 0) {
      dup2(fd, target);
      close(fd);
    }
  }
}

// In the forked child: sets up the streams and folder and executes the
// program; a failure is reported through the status pipe.
[[noreturn]] void RunChild(const ChildProcessOptions& options, const StartPipes& pipes, char** args,
                           char** envp) {
  Redirect(options.input, pipes.in[0], 0, O_RDONLY);
  Redirect(options.output, pipes.out[1], 1, O_WRONLY);
  if (options.mergeErrorIntoOutput)
    dup2(1, 2);
  else
    Redirect(options.error, pipes.err[1], 2, O_WRONLY);
  signal(SIGPIPE, SIG_DFL);
  if (options.workingDirectory.empty() || chdir(options.workingDirectory.c_str()) == 0)
    execvpe(args[0], args, envp);
  int e = errno;
  (void)!write(pipes.status[1], &e, sizeof e);
  // The system call itself: a sanitizer's _exit would run its end-of-process
  // checks in this copy of a threaded process and report the parent's threads.
  syscall(SYS_exit_group, 127);
  _exit(127);  // not reached; the compiler knows it ends the process
}
}  // namespace

// Nothing but the process id is needed to reach a child here.
struct ChildProcess::SystemReference {};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
  ClosePipes();
  if (id_ > 0 && !exited_) {
    if (detach_) {
      // Reap it in the background so no zombie is left behind.
      pid_t pid = id_;
      std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }).detach();
    } else {
      Kill();
      Reap(true);
    }
  }
}

ChildProcessState QueryChildProcess(std::uint32_t id) {
  if (id == 0) return ChildProcessState::Gone;
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  int r;
  while ((r = waitid(P_PID, static_cast<id_t>(id), &info, WEXITED | WNOHANG | WNOWAIT)) < 0 &&
         errno == EINTR) {
  }
  if (r < 0) return ChildProcessState::Gone;
  return info.si_pid == 0 ? ChildProcessState::Running : ChildProcessState::Ended;
}

bool ChildProcess::Start(const std::string& commandLine, const ChildProcessOptions& options) {
  failure_ = StartFailure::Launch;
  std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (argv.empty() || id_ > 0) return false;
  detach_ = options.detachOnDestroy;
  // Writing to a child that has gone must fail, not end this process.
  if (options.input == ChildProcessOptions::Stream::Pipe) signal(SIGPIPE, SIG_IGN);
  StartPipes pipes;
  if (!pipes.Make(options)) {
    failure_ = StartFailure::Pipe;
    pipes.CloseAll();
    return false;
  }

  std::vector<std::string> env = MergedEnvironment(options.environment);
  std::vector<char*> envp, args;
  for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) RunChild(options, pipes, args.data(), envp.data());
  pipes.CloseChildEnds();
  if (pid < 0) {
    pipes.CloseAll();
    return false;
  }
  int childErrno = 0;
  ssize_t n;
  while ((n = read(pipes.status[0], &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
  }
  CloseFd(pipes.status[0]);
  id_ = pid;
  exited_ = false;
  input_ = pipes.in[1];
  output_ = pipes.out[0];
  error_ = pipes.err[0];
  if (n > 0) {
    Reap(true);
    ClosePipes();
    id_ = -1;
    return false;
  }
  failure_ = StartFailure::None;
  return true;
}

long ChildProcess::WriteInput(const char* data, std::size_t length) {
  if (input_ < 0) return -1;
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = write(input_, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

void ChildProcess::CloseInput() { CloseFd(input_); }

long ChildProcess::ReadOutput(char* buffer, std::size_t size) { return ReadFd(output_, buffer, size); }

long ChildProcess::ReadError(char* buffer, std::size_t size) { return ReadFd(error_, buffer, size); }

void ChildProcess::ReadAll(std::string* output, std::string* error) {
  char buffer[4096];
  pollfd fds[2];
  for (;;) {
    int count = 0;
    if (output_ >= 0) fds[count++] = {output_, POLLIN, 0};
    if (error_ >= 0) fds[count++] = {error_, POLLIN, 0};
    if (count == 0) return;
    if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      bool isOutput = fds[i].fd == output_;
      long n = ReadFd(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        CloseFd(isOutput ? output_ : error_);
        continue;
      }
      std::string* target = isOutput ? output : error;
      if (target != nullptr) target->append(buffer, static_cast<std::size_t>(n));
    }
  }
}

bool ChildProcess::Reap(bool block) {
  if (id_ <= 0) return false;
  if (exited_) return true;
  int status = 0;
  pid_t r;
  while ((r = waitpid(id_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r != id_) return false;
  exited_ = true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool ChildProcess::Wait(int timeoutMilliseconds, int* exitCode) {
  if (id_ <= 0) return false;
  if (timeoutMilliseconds < 0) {
    Reap(true);
  } else {
    int waited = 0;
    while (!Reap(false) && waited < timeoutMilliseconds) {
      SleepMilliseconds(5);
      waited += 5;
    }
  }
  if (exited_ && exitCode != nullptr) *exitCode = exitCode_;
  return exited_;
}

void ChildProcess::Kill() {
  if (id_ > 0 && !exited_) kill(id_, SIGKILL);
}

void ChildProcess::Terminate() {
  if (id_ > 0 && !exited_) kill(id_, SIGTERM);
}

void ChildProcess::ClosePipes() {
  CloseFd(input_);
  CloseFd(output_);
  CloseFd(error_);
}

}  // namespace platform
