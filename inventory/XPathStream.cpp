#include "inventory/XPathStream.h"

#include "inventory/XPathErrors.h"

namespace XPath {

byte_stream::byte_stream(const char* bytes)
    : bytes_(bytes != nullptr ? bytes : ""), present_(bytes != nullptr), position_(0) {}

lexeme ByteClass(unsigned char byte) {
  if (byte >= '0' && byte <= '9') return lex_digit;
  if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) return lex_bchar;
  // 0xB7 is the middle dot, an extender; in UTF-8 it only follows a lead byte.
  if (byte == 0xB7) return lex_extender;
  if (byte >= 0x80) return lex_bchar;
  switch (byte) {
    case 0: return lex_null;
    case ' ':
    case '\t':
    case '\r':
    case '\n': return lex_space;
    case '/': return lex_slash;
    case '@': return lex_at;
    case '.': return lex_dot;
    case '-': return lex_minus;
    case '_': return lex_under;
    case ':': return lex_colon;
    case ';': return lex_scolon;
    case '"': return lex_2_quote;
    case '\'': return lex_1_quote;
    case '$': return lex_dollar;
    case '(': return lex_oparen;
    case ')': return lex_cparen;
    case '*': return lex_star;
    case '+': return lex_plus;
    case ',': return lex_comma;
    case '<': return lex_lt;
    case '>': return lex_gt;
    case '=': return lex_equal;
    case '[': return lex_obrack;
    case ']': return lex_cbrack;
    case '|': return lex_orchar;
    case '!': return lex_exclam;
    default: return lex_none;
  }
}

void token_redef::action(int rule, int sub_rule, int number, const std::string& text) {
  owner_.action(rule, sub_rule, number, text);
}

unsigned token_redef::get_action_counter() const { return owner_.get_action_counter(); }

xpath_stream::xpath_stream(const char* expression) : byte_stream(expression), decoder_(*this) {}

namespace {
bool IsNameStart(lexeme cls) { return cls == lex_bchar || cls == lex_under; }
bool IsNameByte(lexeme cls) {
  return cls == lex_bchar || cls == lex_under || cls == lex_digit || cls == lex_dot || cls == lex_minus ||
         cls == lex_extender;
}
}  // namespace

void xpath_stream::lex() {
  decoder_.ClearTokens();
  decoder_.ReserveTokens(Bytes().size() / 2 + 2);
  SetReadPosition(0);
  for (;;) {
    unsigned char byte = PeekByte();
    lexeme cls = ByteClass(byte);
    if (ReadPosition() >= Bytes().size()) break;
    std::size_t start = ReadPosition();
    if (cls == lex_space) {
      SkipBytes(1);
      continue;
    }
    if (cls == lex_digit || (cls == lex_dot && ByteClass(PeekByte(1)) == lex_digit)) {
      while (ByteClass(PeekByte()) == lex_digit) SkipBytes(1);
      if (PeekByte() == '.') {
        SkipBytes(1);
        while (ByteClass(PeekByte()) == lex_digit) SkipBytes(1);
      }
      decoder_.AddToken(lex_number, Bytes().substr(start, ReadPosition() - start));
      continue;
    }
    if (IsNameStart(cls)) {
      while (IsNameByte(ByteClass(PeekByte()))) SkipBytes(1);
      std::string name = Bytes().substr(start, ReadPosition() - start);
      lexeme kind = ClassifyName(name);
      decoder_.AddToken(kind, std::move(name));
      continue;
    }
    if (cls == lex_1_quote || cls == lex_2_quote) {
      std::size_t close = Bytes().find(static_cast<char>(byte), start + 1);
      if (close == std::string::npos) throw syntax_error("Literal: no closing quote");
      decoder_.AddToken(lex_literal, Bytes().substr(start + 1, close - start - 1));
      SetReadPosition(close + 1);
      continue;
    }
    lexeme kind = cls;
    std::size_t length = 1;
    unsigned char next = PeekByte(1);
    if (byte == ':' && next == ':') kind = lex_2_colon;
    else if (byte == '/' && next == '/') kind = lex_2_slash;
    else if (byte == '.' && next == '.') kind = lex_2_dot;
    else if (byte == '!' && next == '=') kind = lex_not_equal;
    else if (byte == '<' && next == '=') kind = lex_lt_equal;
    else if (byte == '>' && next == '=') kind = lex_gt_equal;
    if (kind != cls) length = 2;
    decoder_.AddToken(kind, Bytes().substr(start, length));
    SkipBytes(length);
  }
}

void xpath_stream::decode() {
  lex();
  decoder_.decode();
}

}  // namespace XPath
