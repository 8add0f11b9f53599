#include "inventory/InventoryNodeText.h"

#include <tinyxml.h>

#include <cstdio>

namespace {
void AppendIndent(std::string& out, int depth) {
  for (int i = 0; i < depth; ++i) out += "    ";
}
}  // namespace

void AppendInventoryEscaped(std::string& out, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '&' && i + 2 < text.size() && text[i + 1] == '#' && text[i + 2] == 'x') {
      std::size_t end = text.find(';', i);
      if (end != std::string::npos) {
        out.append(text, i, end - i + 1);
        i = end;
        continue;
      }
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
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

void AppendAttributeText(std::string& out, const TiXmlAttribute* attribute) {
  std::string value = attribute->ValueStr();
  out += attribute->Name();
  if (value.find('"') != std::string::npos) {
    out += "='";
    out += value;
    out += "'";
  } else {
    out += "=\"";
    AppendInventoryEscaped(out, value);
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
