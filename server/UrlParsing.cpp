#include "server/UrlParsing.h"

#include "platform/AsciiText.h"

#include <cctype>
#include <cstring>
#include <string>
#include <utility>

namespace {

bool IsPathDelimiter(char c) { return c == '/' || c == '\\' || c == '?' || c == '#' || c == ';'; }
bool IsRemainderStart(char c) { return c == '?' || c == '#' || c == ';'; }

void Store(char* buffer, std::size_t size, const std::string& text) {
  if (buffer == nullptr || size == 0) return;
  std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

std::uint16_t DefaultPort(const std::string& scheme) {
  static const struct {
    const char* scheme;
    std::uint16_t port;
  } kPorts[] = {{"http", 80}, {"https", 443}, {"ftp", 21}, {"gopher", 70}, {"telnet", 23}};
  for (const auto& entry : kPorts)
    if (EqualsNoCase(scheme.c_str(), entry.scheme)) return entry.port;
  return 0;
}

bool IsDriveSpec(const std::string& text, std::size_t pos) {
  return pos + 2 < text.size() && std::isalpha(static_cast<unsigned char>(text[pos])) &&
         text[pos + 1] == ':' && (text[pos + 2] == '/' || text[pos + 2] == '\\');
}

// Decimal digits at pos: their count, and the value capped above 65536.
std::size_t ReadDigits(const std::string& text, std::size_t pos, unsigned long& value) {
  std::size_t count = 0;
  value = 0;
  while (pos + count < text.size() && std::isdigit(static_cast<unsigned char>(text[pos + count]))) {
    if (value <= 65536) value = value * 10 + static_cast<unsigned long>(text[pos + count] - '0');
    ++count;
  }
  return count;
}

bool ColonIsSchemeSeparator(const std::string& text, std::size_t colon) {
  for (std::size_t i = 0; i < colon; ++i)
    if (IsPathDelimiter(text[i]) || text[i] == '[') return false;
  unsigned long number;
  std::size_t digits = ReadDigits(text, colon + 1, number);
  if (digits > 0 && number < 65535) {
    std::size_t after = colon + 1 + digits;
    if (after == text.size() || IsPathDelimiter(text[after])) return false;
  }
  if (colon == 1 && std::isalpha(static_cast<unsigned char>(text[0])) && colon + 1 < text.size() &&
      (text[2] == '/' || text[2] == '\\'))
    return false;
  return true;
}

}  // namespace

int SplitUrl(const char* url, const SplitUrlOutputs& out) {
  const std::pair<char*, std::size_t> buffers[] = {{out.scheme, out.schemeSize}, {out.user, out.userSize},
                                                   {out.password, out.passwordSize}, {out.host, out.hostSize},
                                                   {out.path, out.pathSize}, {out.remainder, out.remainderSize}};
  // A buffer of size 0 has no room even for the terminator.
  for (const auto& buffer : buffers)
    if (buffer.first != nullptr && buffer.second != 0) buffer.first[0] = '\0';
  if (out.port != nullptr) *out.port = 0;
  if (url == nullptr) return 0;

  std::string text = Trim(url);
  if (text.empty()) return 0;

  int result = 0;
  std::size_t pos = 0;
  std::string scheme;
  bool portFound = false;
  std::uint16_t port = 0;

  std::size_t colon = text.find(':');
  if (colon != std::string::npos && ColonIsSchemeSeparator(text, colon)) {
    scheme = text.substr(0, colon);
    pos = colon + 1;
  }

  if (EqualsNoCase(scheme.c_str(), "file")) {
    if (text.compare(pos, 2, "//") == 0) pos += 2;
  } else {
    if (text.compare(pos, 2, "\\\\") == 0) pos += 2;
    if (text.compare(pos, 2, "//") == 0) pos += 2;
    std::size_t authorityEnd = pos;
    if (!IsDriveSpec(text, pos)) {
      while (authorityEnd < text.size() && !IsPathDelimiter(text[authorityEnd])) ++authorityEnd;
    }
    std::string authority = text.substr(pos, authorityEnd - pos);
    pos = authorityEnd;

    std::size_t at = authority.rfind('@');
    std::size_t hostStart = 0;
    if (at != std::string::npos) {
      std::string userInfo = authority.substr(0, at);
      std::size_t split = userInfo.find(':');
      Store(out.user, out.userSize, userInfo.substr(0, split));
      if (split != std::string::npos) Store(out.password, out.passwordSize, userInfo.substr(split + 1));
      hostStart = at + 1;
    }
    std::size_t hostEnd;
    if (hostStart < authority.size() && authority[hostStart] == '[') {
      hostEnd = authority.find(']', hostStart);
      hostEnd = hostEnd == std::string::npos ? authority.size() : hostEnd + 1;
    } else {
      hostEnd = authority.find(':', hostStart);
      if (hostEnd == std::string::npos) hostEnd = authority.size();
    }
    Store(out.host, out.hostSize, authority.substr(hostStart, hostEnd - hostStart));
    if (hostEnd < authority.size() && authority[hostEnd] == ':') {
      portFound = true;
      unsigned long value;
      std::size_t digits = ReadDigits(authority, hostEnd + 1, value);
      port = static_cast<std::uint16_t>(value);
      if (digits == 0 || value >= 65536 || hostEnd + 1 + digits != authority.size()) result = 1;
    }
  }

  std::size_t remainderStart = pos;
  while (remainderStart < text.size() && !IsRemainderStart(text[remainderStart])) ++remainderStart;
  Store(out.path, out.pathSize, text.substr(pos, remainderStart - pos));
  Store(out.remainder, out.remainderSize, text.substr(remainderStart));

  if (!portFound && !scheme.empty()) port = DefaultPort(scheme);
  Store(out.scheme, out.schemeSize, scheme);
  if (out.port != nullptr) *out.port = port;
  return result;
}

std::size_t UrlDecode(char* output, std::size_t size, const char* source) {
  std::size_t written = 0;
  std::size_t i = 0;
  auto emit = [&](char c) {
    if (output != nullptr && written + 1 < size) output[written] = c;
    ++written;
  };
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (source != nullptr) {
    while (source[i] != '\0') {
      char c = source[i];
      if (c == '+') {
        emit(' ');
        ++i;
      } else if (c == '%' && hex(source[i + 1]) >= 0 && hex(source[i + 2]) >= 0) {
        emit(static_cast<char>(hex(source[i + 1]) * 16 + hex(source[i + 2])));
        i += 3;
      } else {
        emit(c);
        ++i;
      }
    }
  }
  if (output != nullptr && size > 0) output[std::min(written, size - 1)] = '\0';
  return i + 1;
}

std::string UrlEncode(const std::string& text, std::size_t maxLength) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    std::string piece;
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      piece = static_cast<char>(c);
    } else {
      piece = "%";
      piece += kHex[c >> 4];
      piece += kHex[c & 15];
    }
    if (out.size() + piece.size() > maxLength) break;
    out += piece;
  }
  return out;
}

QueryStringMap::QueryStringMap(const char* query) {
  if (query == nullptr || *query == '\0') return;
  std::string text(query);
  std::size_t pos = 0;
  std::vector<char> decoded;
  while (pos <= text.size()) {
    std::size_t amp = text.find('&', pos);
    if (amp == std::string::npos) amp = text.size();
    if (amp > pos) {
      std::string piece = text.substr(pos, amp - pos);
      decoded.assign(piece.size() + 1, '\0');
      UrlDecode(decoded.data(), decoded.size(), piece.c_str());
      std::string item(decoded.data());
      std::size_t equals = item.find('=');
      if (equals != std::string::npos) entries_[item.substr(0, equals)] = item.substr(equals + 1);
    }
    pos = amp + 1;
  }
}

bool QueryStringMap::Has(const std::string& name) const { return entries_.count(name) != 0; }

const std::string& QueryStringMap::Value(const std::string& name) const {
  static const std::string kEmpty;
  auto it = entries_.find(name);
  return it == entries_.end() ? kEmpty : it->second;
}

bool QueryStringMap::GetAll(const char* const* names, std::vector<std::string>& values) const {
  for (; names != nullptr && *names != nullptr; ++names) {
    auto it = entries_.find(*names);
    if (it == entries_.end()) return false;
    values.push_back(it->second);
  }
  return true;
}
