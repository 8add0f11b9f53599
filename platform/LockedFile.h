// A file opened for reading and writing that no other opener may share: the
// cross-process (and cross-thread) lock of the configuration files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class LockedFile {
 public:
  enum class OpenResult { Opened, Busy, Failed };

  LockedFile() = default;
  // Closes the file when still open; its content stays as it is.
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens the path for reading and writing, creating it when missing (read
  // and write permission for everyone, less the process's mask), not
  // inherited by child processes, and shared with nobody: until Close, every
  // other LockedFile open of the same file fails with Busy, in this process
  // (another object, another thread) as in any other. Does not wait. Both
  // "\\" and "/" separate directories in the path. An object that is open
  // already is closed first.
  OpenResult Open(const std::string& path);
  bool IsOpen() const { return handle_ >= 0; }

  // The whole content, read from the start of the file.
  bool ReadAll(std::string& content);

  // Makes data the whole content of the file, as one step: whenever the
  // process is killed, the path holds either the former or the new content,
  // never a part. (The new content is written to a file of the same folder,
  // named after the path plus ".tmp", that then takes the path's place and
  // the lock; a file that cannot be replaced so, such as a device, is
  // written in place.) The lock stays held. False unless every byte was
  // written; the former content is then kept.
  bool ReplaceContent(const char* data, std::size_t length);
  // Whether the last ReplaceContent replaced the file whole; false when it
  // wrote in place (a device, a folder or file system that does not allow
  // the replace) or failed.
  bool ReplacedWhole() const { return replacedWhole_; }

  // Hands what was written to the storage device; false on a write error
  // the system reports only now.
  bool Flush();

  // Closes the file (this ends the lock); false when the system reports an
  // error of a delayed write. Closing a closed object succeeds.
  bool Close();

 private:
  std::intptr_t handle_ = -1;  // a descriptor or a system handle
  std::string path_;  // of the open file, for the save to replace it
  bool replacedWhole_ = false;
};

}  // namespace platform
