#include "inventory/InventoryNodeText.h"
#include "platform/AsciiText.h"

#include <tinyxml.h>

#include <cstdio>

namespace {
void AppendIndent(std::string& out, int depth) {
  for (int i = 0; i < depth; ++i) out += "    ";
}


// The length of the hexadecimal character reference ("&#x", one to six hex
// digits, ";") at `at`, else 0. Only a complete one may pass unescaped:
// anything looser would let markup in the value through.
std::size_t HexReferenceLength(const std::string& text, std::size_t at) {
  if (text.compare(at, 3, "&#x") != 0) return 0;
  std::size_t end = at + 3;
  while (end < text.size() && end - at < 9 && IsHexDigit(text[end])) ++end;
  if (end == at + 3 || end >= text.size() || text[end] != ';') return 0;
  return end + 1 - at;
}

// Inside single quotes a double quote stays as it is.
void Escape(std::string& out, const std::string& text, bool keepDoubleQuotes) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '&') {
      if (std::size_t length = HexReferenceLength(text, i)) {
        out.append(text, i, length);
        i += length - 1;
        continue;
      }
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (keepDoubleQuotes) {
          out += '"';
        } else {
          out += "&quot;";
        }
        break;
      case '\'': out += "&apos;"; break;
      default:
        if (c < 32) {
          char reference[8];
          std::snprintf(reference, sizeof reference, "&#x%02X;", c);
          out += reference;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}
}  // namespace

void AppendInventoryEscaped(std::string& out, const std::string& text) { Escape(out, text, false); }

void AppendAttributeText(std::string& out, const TiXmlAttribute* attribute) {
  const std::string& value = attribute->ValueStr();
  out += attribute->Name();
  if (value.find('"') != std::string::npos) {
    out += "='";
    Escape(out, value, true);
    out += "'";
  } else {
    out += "=\"";
    Escape(out, value, false);
    out += "\"";
  }
}

void AppendNodeText(std::string& out, const TiXmlNode* node, int depth) {
  switch (node->Type()) {
    case TiXmlNode::TINYXML_ELEMENT: {
      const TiXmlElement* element = node->ToElement();
      AppendIndent(out, depth);
      out += "<";
      out += element->Value();
      for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
        out += " ";
        AppendAttributeText(out, a);
      }
      const TiXmlNode* first = element->FirstChild();
      if (first == nullptr) {
        out += " />";
      } else if (first == element->LastChild() && first->Type() == TiXmlNode::TINYXML_TEXT) {
        out += ">";
        AppendNodeText(out, first, depth + 1);
        out += "</";
        out += element->Value();
        out += ">";
      } else {
        out += ">";
        for (const TiXmlNode* child = first; child != nullptr; child = child->NextSibling()) {
          if (child->Type() != TiXmlNode::TINYXML_TEXT) out += "\n";
          AppendNodeText(out, child, depth + 1);
        }
        out += "\n";
        AppendIndent(out, depth);
        out += "</";
        out += element->Value();
        out += ">";
      }
      break;
    }
    case TiXmlNode::TINYXML_TEXT:
      AppendInventoryEscaped(out, node->ValueStr());
      break;
    case TiXmlNode::TINYXML_COMMENT:
      AppendIndent(out, depth);
      out += "<!--";
      out += node->Value();
      out += "-->";
      break;
    case TiXmlNode::TINYXML_DOCUMENT:
      for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
        AppendNodeText(out, child, depth);
        out += "\n";
      }
      break;
    default:  // declarations and markup TinyXML keeps unparsed
      AppendIndent(out, depth);
      out += "<";
      out += node->Value();
      out += ">";
      break;
  }
}
