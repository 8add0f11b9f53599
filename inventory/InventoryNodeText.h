// The text form of TinyXML nodes in inventory replies: as the XML library
// prints a node to a file, with four-space indents.
#pragma once

#include <string>

class TiXmlNode;
class TiXmlAttribute;

// ampersand, angle brackets and quotes as named references, bytes below 32
// as "&#x%02X;"; a hexadecimal character reference already present ("&#x",
// one to six hex digits, ";") is copied unchanged.
void AppendInventoryEscaped(std::string& out, const std::string& text);

void AppendNodeText(std::string& out, const TiXmlNode* node, int depth);
// name="value", or name='value' when the value holds a double quote (escaped
// the same, but for the double quote).
void AppendAttributeText(std::string& out, const TiXmlAttribute* attribute);
