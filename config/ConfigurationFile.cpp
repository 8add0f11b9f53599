#include "config/ConfigurationFile.h"

#include "config/XmlParser.h"
#include "config/XmlWriter.h"
#include "platform/Process.h"
#include "platform/Time.h"

namespace {

const unsigned kRetryMilliseconds = 500;

// The files are text files with CR LF line ends, also where the system's own
// convention is LF, so that every system reads and writes the same bytes.
std::string ToMemoryLineEnds(const std::string& disk) {
  std::string text;
  text.reserve(disk.size());
  for (std::size_t i = 0; i < disk.size(); ++i) {
    if (disk[i] == '\r' && i + 1 < disk.size() && disk[i + 1] == '\n') continue;
    text.push_back(disk[i]);
  }
  return text;
}

std::string ToDiskLineEnds(const std::string& text) {
  std::string disk;
  disk.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') disk.push_back('\r');
    disk.push_back(c);
  }
  return disk;
}

}  // namespace

ConfigurationFile::ConfigurationFile(const char* directory, const char* fileName) {
  if (directory != nullptr && directory[0] != '\0') {
    path_ = directory;
    char last = path_.back();
    if (last != '\\' && last != '/') path_ += '\\';
  }
  if (fileName != nullptr) path_ += fileName;
}

ConfigurationFile::~ConfigurationFile() {
  // Closing without writing keeps the file as it was.
  file_.Close();
}

bool ConfigurationFile::IsReadOnly() const { return !forUpdate_; }

bool ConfigurationFile::IsForUpdate() const { return forUpdate_; }

bool ConfigurationFile::LoadReadOnly(std::int32_t timeoutSeconds) { return Load(timeoutSeconds, false); }

bool ConfigurationFile::LoadForUpdate(std::int32_t timeoutSeconds) { return Load(timeoutSeconds, true); }

bool ConfigurationFile::WriteFile() { return Write(-1); }

bool ConfigurationFile::WriteFileFormatted() { return Write(1); }

bool ConfigurationFile::AcquireLock(std::int32_t timeoutSeconds) {
  if (path_.empty()) return false;
  if (file_.Open(path_) == platform::LockedFile::OpenResult::Opened) return true;
  if (timeoutSeconds < 1) return false;
  std::uint64_t deadline = platform::MonotonicMilliseconds() + static_cast<std::uint64_t>(timeoutSeconds) * 1000;
  for (;;) {
    platform::SleepMilliseconds(kRetryMilliseconds);
    if (file_.Open(path_) == platform::LockedFile::OpenResult::Opened) return true;
    if (platform::MonotonicMilliseconds() >= deadline) return false;
  }
}

bool ConfigurationFile::Load(std::int32_t timeoutSeconds, bool forUpdate) {
  // An object that holds the lock already (loaded for update) reloads under
  // it; opening the file a second time would wait for itself.
  if (!file_.IsOpen() && !AcquireLock(timeoutSeconds)) return false;
  std::string disk;
  bool read = file_.ReadAll(disk);
  if (!read || !forUpdate) file_.Close();
  if (!read) {
    forUpdate_ = false;
    return false;
  }
  std::string text = ToMemoryLineEnds(disk);
  XmlNode* document = nullptr;
  if (text.empty()) {
    document = new XmlNode(XmlKind::Document, "invisibleroot");
    isNew_ = true;
  } else {
    // Text that does not parse leaves no document: lookups find nothing.
    ParseXml(text, &document, nullptr, nullptr);
    isNew_ = false;
  }
  ReplaceDocument(std::unique_ptr<XmlNode>(document));
  forUpdate_ = forUpdate;
  return true;
}

bool ConfigurationFile::Write(int indent) {
  if (!forUpdate_) return false;
  forUpdate_ = false;
  // Text that did not parse gave no document: writing nothing over it would
  // lose every section, so the file is left as it is.
  if (document_ == nullptr) {
    file_.Close();
    return false;
  }
  std::string text;
  SerializeXml(document_, text, indent, false);
  std::string disk = ToDiskLineEnds(text);
  // Everything is written and handed to the device before the lock ends, and
  // a short write is a failure.
  bool written = file_.ReplaceContent(disk.data(), disk.size()) && file_.Flush();
  bool closed = file_.Close();
  return written && closed;
}

CachedConfigurationFile::CachedConfigurationFile(const ConfigurationFile& source) : ConfigurationFile("", "") {
  BorrowDocument(source.GetRoot());
  isNew_ = source.IsNew();
}

CachedConfigurationFile::CachedConfigurationFile(std::shared_ptr<const ConfigurationFile> source)
    : ConfigurationFile("", ""), source_(std::move(source)) {
  if (source_ != nullptr) {
    BorrowDocument(source_->GetRoot());
    isNew_ = source_->IsNew();
  } else {
    BorrowDocument(nullptr);
  }
}

CachedConfigurationFile::~CachedConfigurationFile() = default;

bool CachedConfigurationFile::IsReadOnly() const { return true; }

bool CachedConfigurationFile::IsForUpdate() const { return false; }

bool CachedConfigurationFile::LoadReadOnly(std::int32_t) { return false; }

bool CachedConfigurationFile::LoadForUpdate(std::int32_t) { return false; }

bool CachedConfigurationFile::WriteFile() { return false; }

bool CachedConfigurationFile::WriteFileFormatted() { return false; }
