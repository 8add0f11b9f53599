// Reading a regular file, refusing anything else before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class RegularFile {
 public:
  enum class OpenResult { Opened, NotRegular, Failed };

  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // Opens the path for reading when it names a regular file (links are
  // followed). A directory, pipe, socket or device is NotRegular: it is
  // refused before anything reads from it, and the open never waits (a pipe
  // without a writer does not hold it up). Failed when the path cannot be
  // opened. An object that is open already is closed first.
  OpenResult Open(const std::string& path);
  bool IsOpen() const { return handle_ != -1; }

  // The file's size in bytes when it was opened.
  std::uint64_t Size() const { return size_; }

  // Reads up to length bytes from the current position: the count read,
  // 0 at the end of the file, -1 on an error.
  std::int64_t Read(char* buffer, std::size_t length);

  void Close();

 private:
  std::intptr_t handle_ = -1;  // a descriptor or a system handle
  std::uint64_t size_ = 0;
};

}  // namespace platform
