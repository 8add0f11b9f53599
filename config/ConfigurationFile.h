// Configuration files under a cross-process lock, and read-only views of a
// loaded one.
//
// A file loaded for update stays locked against every other opener (other
// objects, threads and processes) until WriteFile / WriteFileFormatted or the
// destruction; a read-only load holds the lock only while it reads. Loaders
// that find the file locked retry every 500 ms until their timeout.
//
// In memory, lines end in LF; on disk in CR LF, on every system: loading
// turns CR LF into LF, writing turns every LF into CR LF.
#pragma once

#include "config/Configuration.h"
#include "platform/LockedFile.h"

#include <cstdint>
#include <memory>
#include <string>

class ConfigurationFile : public Configuration {
 public:
  // Timeouts, in seconds, the provider's callers use.
  static constexpr std::int32_t kReadOnlyTimeout = 5;
  static constexpr std::int32_t kUpdateTimeout = 20;

  // The path is the directory (may be null), a "\\" when the directory is
  // not empty and ends in neither "\\" nor "/", and the file name (may be
  // null). Both separators work on every system.
  ConfigurationFile(const char* directory, const char* fileName);

  // Virtual operations, in their fixed order.
  // An object still loaded for update releases the lock without writing:
  // the file keeps its former content.
  ~ConfigurationFile() override;
  // True unless loaded for update (and not written yet).
  virtual bool IsReadOnly() const;
  virtual bool IsForUpdate() const;
  // Load the file, waiting up to the timeout for the lock; a timeout below 1
  // tries once. A missing file is created empty and gives a new, empty
  // document (IsNew); text that does not parse gives no document at all.
  // False when the lock was not obtained or the file could not be read (the
  // document is left as it was).
  virtual bool LoadReadOnly(std::int32_t timeoutSeconds);
  virtual bool LoadForUpdate(std::int32_t timeoutSeconds);
  // Write the whole document back, compact or tab-indented, and release the
  // lock. False when not loaded for update, when the loaded text did not
  // parse (the file is left untouched) or when the text could not be written
  // completely; the lock is released in every case.
  virtual bool WriteFile();
  virtual bool WriteFileFormatted();

  const std::string& Path() const { return path_; }

 private:
  bool Load(std::int32_t timeoutSeconds, bool forUpdate);
  bool AcquireLock(std::int32_t timeoutSeconds);
  bool Write(int indent);

  platform::LockedFile file_;
  std::string path_;
  bool forUpdate_ = false;
};

// A read-only view of another object's document: answers lookups like its
// source, refuses every change, never loads, writes nor locks.
class CachedConfigurationFile : public ConfigurationFile {
 public:
  // The source must outlive the view.
  explicit CachedConfigurationFile(const ConfigurationFile& source);
  // The view keeps the source alive as long as it exists.
  explicit CachedConfigurationFile(std::shared_ptr<const ConfigurationFile> source);
  ~CachedConfigurationFile() override;

  bool IsReadOnly() const override;
  bool IsForUpdate() const override;
  bool LoadReadOnly(std::int32_t timeoutSeconds) override;
  bool LoadForUpdate(std::int32_t timeoutSeconds) override;
  bool WriteFile() override;
  bool WriteFileFormatted() override;

 private:
  std::shared_ptr<const ConfigurationFile> source_;
};
