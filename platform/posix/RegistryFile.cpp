#include "platform/posix/RegistryFile.h"

#include "platform/AsciiText.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace platform {

std::string RegistryFoldCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// regedit writes version 5 exports as UTF-16LE with a byte-order mark.
std::string ToUtf8(const std::string& content) {
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    std::string out;
    for (size_t i = 2; i + 1 < content.size(); i += 2) {
      std::uint32_t unit = static_cast<unsigned char>(content[i]) |
                           (static_cast<unsigned char>(content[i + 1]) << 8);
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < content.size()) {
        std::uint32_t low = static_cast<unsigned char>(content[i + 2]) |
                            (static_cast<unsigned char>(content[i + 3]) << 8);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      AppendUtf8(out, unit);
    }
    return out;
  }
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) return content.substr(3);
  return content;
}

// Reads a quoted string starting at pos (on the opening quote); pos ends
// after the closing quote. False when the quote is not closed.
bool ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < line.size()) c = line[pos++];
    out += c;
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<unsigned char>& bytes) {
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    item = Trim(item);
    if (item.empty()) continue;
    char* end = nullptr;
    unsigned long value = std::strtoul(item.c_str(), &end, 16);
    if (*end != '\0' || value > 0xFF) return false;
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return true;
}

bool ParseValue(const std::string& data, RegistryValue& value) {
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    value.kind = RegistryValue::Kind::String;
    return ReadQuoted(data, pos, value.text);
  }
  std::string lower = RegistryFoldCase(data);
  if (lower.compare(0, 6, "dword:") == 0) {
    std::string digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    char* end = nullptr;
    unsigned long number = std::strtoul(digits.c_str(), &end, 16);
    if (*end != '\0') return false;
    value.kind = RegistryValue::Kind::Dword;
    value.number = static_cast<std::uint32_t>(number);
    return true;
  }
  if (lower.compare(0, 3, "hex") == 0) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) return false;
    value.kind = RegistryValue::Kind::Binary;
    return ParseHexBytes(data.substr(colon + 1), value.bytes);
  }
  return false;
}

}  // namespace

bool RegistryFile::Parse(const std::string& rawContent) {
  keys_.clear();
  std::string content = ToUtf8(rawContent);
  std::stringstream in(content);
  std::string line;
  bool headerSeen = false;
  Values* current = nullptr;
  std::string pending;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Binary values continue on the next line after a trailing backslash.
    if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    if (!pending.empty()) {
      line = pending + Trim(line);
      pending.clear();
    }
    std::string trimmed = Trim(line);
    if (!headerSeen) {
      if (trimmed.empty()) continue;
      if (trimmed != "Windows Registry Editor Version 5.00" && trimmed != "REGEDIT4") return false;
      headerSeen = true;
      continue;
    }
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      size_t close = trimmed.rfind(']');
      if (close == std::string::npos) {
        current = nullptr;
        continue;
      }
      std::string key = trimmed.substr(1, close - 1);
      if (!key.empty() && key[0] == '-') {  // deletion entry
        keys_.erase(RegistryFoldCase(key.substr(1)));
        current = nullptr;
        continue;
      }
      current = &keys_[RegistryFoldCase(key)];
      continue;
    }
    if (current == nullptr) continue;
    std::string name;
    size_t pos = 0;
    if (trimmed[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(trimmed, pos, name)) {
      continue;
    }
    while (pos < trimmed.size() && std::isspace(static_cast<unsigned char>(trimmed[pos]))) ++pos;
    if (pos >= trimmed.size() || trimmed[pos] != '=') continue;
    std::string data = Trim(trimmed.substr(pos + 1));
    if (data == "-") {
      current->erase(RegistryFoldCase(name));
      continue;
    }
    RegistryValue value;
    if (ParseValue(data, value)) (*current)[RegistryFoldCase(name)] = value;
  }
  return headerSeen;
}

bool RegistryFile::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::stringstream content;
  content << file.rdbuf();
  return Parse(content.str());
}

bool RegistryFile::HasKey(const std::string& key) const {
  return keys_.count(RegistryFoldCase(key)) != 0;
}

const RegistryValue* RegistryFile::Find(const std::string& key, const std::string& name) const {
  auto k = keys_.find(RegistryFoldCase(key));
  if (k == keys_.end()) return nullptr;
  auto v = k->second.find(RegistryFoldCase(name));
  return v == k->second.end() ? nullptr : &v->second;
}

}  // namespace platform
