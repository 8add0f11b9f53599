// Comparing trees of the provider's XML library, and telling which trees the
// compact writer can give back to the parser unchanged.
#pragma once

#include "config/XmlNode.h"

#include <string>

// True when both trees hold the same nodes: kinds, names, decoded values,
// attributes in order, children in order, element texts (file form) and the
// CDATA mark of elements with a value. The documents' own character data is
// not compared (it is never written). On a difference, *why (may be null)
// says where.
bool SameXmlTree(const XmlNode* a, const XmlNode* b, std::string* why);

// False when the tree holds something the writer cannot give back: text
// shaped like a start or end tag of an enclosing element inside a comment,
// declaration, processing instruction, CDATA value (an element encloses its
// own; sections read apart are written as one), attribute or the name of a
// nested element (the parser's end-tag search sees it, also inside those).
bool CompactFormRoundTrips(const XmlNode* document);
