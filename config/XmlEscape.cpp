#include "config/XmlEscape.h"

namespace {

// Walks the value once, handing each output piece to the sink, so that the
// same code both measures and writes.
template <class Sink>
void EscapeInto(std::string_view value, XmlEscapeMode mode, Sink&& put) {
  static const char kHex[] = "0123456789ABCDEF";
  const bool attribute = mode == XmlEscapeMode::AttributeValue;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    switch (c) {
      case '<': put("&lt;"); break;
      case '>': put("&gt;"); break;
      case '&': put("&amp;"); break;
      case '\'': put("&apos;"); break;
      case '"': put("&quot;"); break;
      case '\t': put(attribute ? "&#x9;" : "\t"); break;
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
        put(attribute ? "&#xA;" : "\n");
        break;
      case '\n': put(attribute ? "&#xA;" : "\n"); break;
      default:
        if (c < 0x20) {
          const char ref[] = {'&', '#', 'x', kHex[c >> 4], kHex[c & 0xF], ';', '\0'};
          put(std::string_view(ref, 6));
        } else {
          put(std::string_view(value.data() + i, 1));
        }
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the reference at text[pos] ("&..."); returns its length, 0 when it
// is not one the library knows.
std::size_t DecodeReference(std::string_view text, std::size_t pos, char& out) {
  static const struct {
    std::string_view name;
    char c;
  } kNamed[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
  const std::string_view rest = text.substr(pos);
  for (const auto& entry : kNamed) {
    if (rest.substr(0, entry.name.size()) == entry.name) {
      out = entry.c;
      return entry.name.size();
    }
  }
  if (rest.size() < 3 || rest[1] != '#') return 0;
  const bool hex = rest[2] == 'x';
  std::size_t i = hex ? 3 : 2;
  const std::size_t digitsStart = i;
  unsigned value = 0;
  for (; i < rest.size(); ++i) {
    const int digit = hex ? HexDigit(rest[i]) : (rest[i] >= '0' && rest[i] <= '9' ? rest[i] - '0' : -1);
    if (digit < 0) break;
    if (value < 256) value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
  }
  if (i == digitsStart || i >= rest.size() || rest[i] != ';' || value >= 256) return 0;
  out = static_cast<char>(value);
  return i + 1;
}

}  // namespace

void AppendEscapedXml(std::string& out, std::string_view value, XmlEscapeMode mode) {
  std::size_t length = 0;
  EscapeInto(value, mode, [&length](std::string_view piece) { length += piece.size(); });
  out.reserve(out.size() + length);
  EscapeInto(value, mode, [&out](std::string_view piece) { out.append(piece); });
}

std::string EscapeXml(std::string_view value, XmlEscapeMode mode) {
  std::string out;
  AppendEscapedXml(out, value, mode);
  return out;
}

std::string UnescapeXml(std::string_view text) {
  std::string value;
  value.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) {
      value.append(text.substr(pos));
      break;
    }
    value.append(text.substr(pos, amp - pos));
    char decoded = 0;
    const std::size_t used = DecodeReference(text, amp, decoded);
    if (used == 0) break;
    value.push_back(decoded);
    pos = amp + used;
  }
  return value;
}
