#include "inventory/InventoryFile.h"

#include "platform/RegularFile.h"

#include <tinyxml.h>

#include <cstring>
#include <memory>
#include <new>

namespace {
// The whole file plus a terminating zero, or null with the reason and the
// error TinyXML would have given.
std::unique_ptr<char[]> ReadWhole(const std::string& fileName, std::string& reason, int& error) {
  error = TiXmlBase::TIXML_ERROR_OPENING_FILE;
  platform::RegularFile file;
  switch (file.Open(fileName)) {
    case platform::RegularFile::OpenResult::Opened:
      break;
    case platform::RegularFile::OpenResult::NotRegular:
      reason = "not a regular file";
      return nullptr;
    case platform::RegularFile::OpenResult::Failed:
      reason = "cannot be opened";
      return nullptr;
  }
  const std::uint64_t size = file.Size();
  if (size > kInventorySizeLimit) {
    reason = "larger than " + std::to_string(kInventorySizeLimit) + " bytes";
    return nullptr;
  }
  if (size == 0) {
    error = TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY;
    reason = "empty";
    return nullptr;
  }
  const std::size_t length = static_cast<std::size_t>(size);
  std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
  if (text == nullptr) {
    reason = "out of memory";
    return nullptr;
  }
  if (file.Read(text.get(), length) != static_cast<std::int64_t>(length)) {
    reason = "cannot be read";
    return nullptr;
  }
  text[length] = '\0';
  return text;
}

// CR LF and lone CR become LF, up to the first zero byte, as TinyXML does.
void NormalizeLineEnds(char* text) {
  char* read = std::strchr(text, '\r');
  if (read == nullptr) return;
  char* write = read;
  while (*read != '\0') {
    if (*read == '\r') {
      *write++ = '\n';
      if (*++read == '\n') ++read;
    } else {
      *write++ = *read++;
    }
  }
  *write = '\0';
}
// True when no element of the text is nested more than `limit` deep.
// TinyXML parses and frees a tree recursively, one call per level, so a
// file nested thousands deep would overflow a thread's stack; such a file
// is refused as one that does not parse. Start tags are read to their end
// with quoted values skipped, so a ">" or "/>" inside a value changes
// nothing; comments and CDATA sections are skipped whole.
struct TagStops {
  bool stop[256] = {};
  TagStops() { stop['\0'] = stop['"'] = stop['\''] = stop['>'] = true; }
  bool operator[](unsigned char c) const { return stop[c]; }
};
const TagStops kTagStop;

bool NestingWithin(const char* text, unsigned limit) {
  unsigned depth = 0;
  const char* p = text;
  while ((p = std::strchr(p, '<')) != nullptr) {
    ++p;
    if (*p == '/') {
      if (depth > 0) --depth;
      continue;
    }
    if (*p == '?' || *p == '!') {
      // Comments and CDATA sections hold no elements and are skipped whole;
      // a declaration or processing instruction only to its first ">", as
      // far as the parser may take it; anything else starting "<!" is
      // scanned on (at worst counting more than there is).
      const char* end = nullptr;
      if (*p == '?') end = std::strchr(p, '>');
      else if (std::strncmp(p, "!--", 3) == 0) end = std::strstr(p, "-->");
      else if (std::strncmp(p, "![CDATA[", 8) == 0) end = std::strstr(p, "]]>");
      else continue;
      if (end == nullptr) return true;  // unterminated: nothing follows but its text
      p = end;
      continue;
    }
    // Names and spaces go by a table look-up a byte; quoted values by
    // strchr, which takes long stretches at a time.
    const char* q = p;
    for (;;) {
      while (!kTagStop[static_cast<unsigned char>(*q)]) ++q;
      if (*q != '"' && *q != '\'') break;
      q = std::strchr(q + 1, *q);
      if (q == nullptr) return true;
      ++q;
    }
    if (*q == '\0') return true;
    if (q[-1] != '/' && ++depth > limit) return false;
    p = q + 1;
  }
  return true;
}
}  // namespace

bool LoadInventoryFile(TiXmlDocument& document, const std::string& fileName, std::string* reason) {
  std::string why;
  document.Clear();
  document.ClearError();
  document.SetTabSize(0);
  document.SetValue(fileName);
  try {
    int error = 0;
    std::unique_ptr<char[]> text = ReadWhole(fileName, why, error);
    if (text == nullptr) {
      document.SetError(error, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    } else {
      NormalizeLineEnds(text.get());
      if (!NestingWithin(text.get(), kInventoryNestingLimit)) {
        why = "nested deeper than " + std::to_string(kInventoryNestingLimit) + " elements";
        document.SetError(TiXmlBase::TIXML_ERROR_PARSING_ELEMENT, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
      } else {
        document.Parse(text.get(), nullptr, TIXML_DEFAULT_ENCODING);
        if (document.Error()) why = std::string("does not parse: ") + document.ErrorDesc();
      }
    }
  } catch (const std::bad_alloc&) {
    // TinyXML links each node as soon as it is made: clearing frees them all.
    document.Clear();
    document.ClearError();
    document.SetError(TiXmlBase::TIXML_ERROR, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    why = "out of memory";
  }
  if (why.empty()) return true;
  if (reason != nullptr) *reason = why;
  return false;
}
