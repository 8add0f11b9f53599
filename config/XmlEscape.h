// Character references of the XML library: value (decoded) <-> text (file form).
#pragma once

#include <string>
#include <string_view>

// The two escaping tables: element text (also processing instructions and
// documents) keeps tab and line feed, attribute values turn them into
// character references.
enum class XmlEscapeMode { ElementText, AttributeValue };

// Appends the escaped form of value to out. Byte by byte: the five markup
// characters become named references, CR and CR LF become one line feed (as
// "&#xA;" in attribute values), other bytes below 0x20 become "&#xHH;", all
// other bytes are copied.
void AppendEscapedXml(std::string& out, std::string_view value, XmlEscapeMode mode);
std::string EscapeXml(std::string_view value, XmlEscapeMode mode);

// Decodes "&lt;" "&gt;" "&amp;" "&apos;" "&quot;", "&#xHH;" and "&#DD;" (below
// 256). Any other "&" ends the decoding: the result is what came before it.
std::string UnescapeXml(std::string_view text);
