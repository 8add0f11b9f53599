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
}  // namespace

bool LoadInventoryFile(TiXmlDocument& document, const std::string& fileName) {
  document.SetTabSize(0);
  std::unique_ptr<char[]> text = ReadWhole(fileName);
  if (text == nullptr) return document.LoadFile(fileName.c_str());
  NormalizeLineEnds(text.get());
  document.Clear();
  document.SetValue(fileName);
  document.Parse(text.get(), nullptr, TIXML_DEFAULT_ENCODING);
  return !document.Error();
}
