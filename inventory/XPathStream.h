// The bytes of an expression, their lexical analysis, and the decoder that
// records actions into the owning stream.
#pragma once

#include "inventory/XPathDecoder.h"

#include <cstddef>
#include <string>

namespace XPath {

// The expression's bytes (up to the first zero byte) and a read position.
class byte_stream {
 public:
  explicit byte_stream(const char* bytes);
  virtual ~byte_stream() = default;

  bool HasBytes() const { return present_; }
  const std::string& Bytes() const { return bytes_; }
  std::size_t ReadPosition() const { return position_; }
  void SetReadPosition(std::size_t position) { position_ = position; }
  // The byte `ahead` places past the read position, 0 past the end.
  unsigned char PeekByte(std::size_t ahead = 0) const {
    return position_ + ahead < bytes_.size() ? static_cast<unsigned char>(bytes_[position_ + ahead]) : 0;
  }
  void SkipBytes(std::size_t count) { position_ += count; }

 private:
  std::string bytes_;
  bool present_;
  std::size_t position_;
};

// Byte class of one byte: one of the single-byte lexeme kinds, lex_digit,
// lex_bchar (letters and every byte from 0x80 on, so UTF-8 names pass) or
// lex_extender; lex_none for bytes with no place in an expression.
lexeme ByteClass(unsigned char byte);

class xpath_stream;

// The decoder a stream creates; it records into that stream.
class token_redef : public token_syntax_decoder {
 public:
  explicit token_redef(xpath_stream& owner) : owner_(owner) {}

 protected:
  void action(int rule, int sub_rule, int number, const std::string& text) override;
  unsigned get_action_counter() const override;

 private:
  xpath_stream& owner_;
};

class xpath_stream : public byte_stream {
 public:
  explicit xpath_stream(const char* expression);

  // Splits the bytes into tokens (spaces dropped). Throws syntax_error for
  // a literal without its closing quote.
  void lex();
  // lex() and then the grammar decoding, which records the actions.
  void decode();

  const token_list& Tokens() const { return decoder_; }
  unsigned DecodeAttempts() const { return decoder_.Attempts(); }

  // What the decoder calls: record one action; count the recorded ones.
  virtual void action(int rule, int sub_rule, int number, const std::string& text) = 0;
  virtual unsigned get_action_counter() const = 0;

 private:
  token_redef decoder_;
};

}  // namespace XPath
