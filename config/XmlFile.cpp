#include "config/XmlFile.h"

#include "config/XmlParser.h"
#include "config/XmlWriter.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

constexpr std::size_t kMaxSystemErrorLength = 127;

void SetError(std::string* error, std::string text) {
  if (error == nullptr) return;
  if (text.size() > kMaxSystemErrorLength) text.resize(kMaxSystemErrorLength);
  *error = std::move(text);
}

std::string SystemErrorText(int code) { return std::generic_category().message(code); }

}  // namespace

int LoadXmlFile(const std::string& path, XmlNode** document, std::string* error, std::size_t* position) {
  if (document != nullptr) *document = nullptr;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    SetError(error, SystemErrorText(errno));
    return 1;
  }
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    const int code = errno;
    std::fclose(file);
    SetError(error, SystemErrorText(code));
    return 1;
  }
  std::string data;
  std::size_t got = 0;
  try {
    data.resize(static_cast<std::size_t>(size));
    got = size == 0 ? 0 : std::fread(&data[0], 1, data.size(), file);
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    SetError(error, "Out of memory");
    return 1;
  }
  std::fclose(file);
  if (got != data.size()) {
    SetError(error, "Unexpected number of bytes read");
    return 1;
  }

  const bool byteOrderMark = data.compare(0, 3, kXmlByteOrderMark) == 0;
  const std::size_t skip = byteOrderMark ? 3 : 0;
  XmlNode* parsed = nullptr;
  std::size_t failedAt = 0;
  if (ParseXml(std::string_view(data).substr(skip), &parsed, error, &failedAt) != 0) {
    if (position != nullptr) *position = failedAt + skip;
    return 1;
  }
  if (byteOrderMark) parsed->SetValue(kXmlByteOrderMark);
  if (document != nullptr)
    *document = parsed;
  else
    delete parsed;
  return 0;
}

int SaveXmlFile(const XmlNode* node, const std::string& path, int indent, bool byteOrderMark, std::string* error) {
  std::string text;
  try {
    SerializeXml(node, text, indent, byteOrderMark);
  } catch (const std::bad_alloc&) {
    SetError(error, "Out of memory");
    return 1;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    SetError(error, SystemErrorText(errno));
    return 1;
  }
  const std::size_t written = text.empty() ? 0 : std::fwrite(text.data(), 1, text.size(), file);
  // Buffered data reaches the file only at the flush, which can fail too.
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (written != text.size() || !flushed || !closed) {
    SetError(error, "Unexpected number of bytes written");
    return 1;
  }
  return 0;
}
