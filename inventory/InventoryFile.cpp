#include "inventory/InventoryFile.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {
// The whole file plus a terminating zero; null when it cannot be read in
// one go (TinyXML then reports the problem its own way).
std::unique_ptr<char[]> ReadWhole(const std::string& fileName) {
  std::FILE* file = std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) return nullptr;
  std::unique_ptr<char[]> text;
  long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  if (length > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
    text.reset(new char[static_cast<std::size_t>(length) + 1]);
    if (std::fread(text.get(), 1, static_cast<std::size_t>(length), file) != static_cast<std::size_t>(length)) {
      text.reset();
    } else {
      text[static_cast<std::size_t>(length)] = '\0';
    }
  }
  std::fclose(file);
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

bool LoadInventoryFile(TiXmlDocument& document, const std::string& fileName) {
  document.SetTabSize(0);
  std::unique_ptr<char[]> text = ReadWhole(fileName);
  if (text == nullptr) return document.LoadFile(fileName.c_str());
  NormalizeLineEnds(text.get());
  document.Clear();
  if (!NestingWithin(text.get(), kInventoryNestingLimit)) {
    document.SetError(TiXmlBase::TIXML_ERROR_PARSING_ELEMENT, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    return false;
  }
  document.SetValue(fileName);
  document.Parse(text.get(), nullptr, TIXML_DEFAULT_ENCODING);
  return !document.Error();
}
