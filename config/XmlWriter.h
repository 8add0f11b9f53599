// Writing a node tree as text, compact or tab-indented.
#pragma once

#include "config/XmlNode.h"

#include <cstddef>
#include <string>

// The UTF-8 byte-order mark; a document whose value is this writes it first.
extern const char kXmlByteOrderMark[4];

// Appends the text form of node (and everything below it) to out. A negative
// indent writes compact (no white space added); an indent n >= 0 writes the
// tab-indented layout, children at n + 1. byteOrderMark writes EF BB BF first
// when node is a document. The output is reserved once, from a measurement
// of the tree. A null node appends nothing.
//
// ParseXml reads the compact form back into the same tree. Two repairs make
// sure of that: a double quote in an attribute's text (from a single-quoted
// value) is written as "&quot;", and "]]>" inside a CDATA value splits the
// section in two. What cannot be kept: the document's own character data
// (never written), the CDATA mark of an empty value, and documents in which
// comments, CDATA, processing instructions or attribute values hold text
// shaped like a tag of an enclosing element; the end-tag search sees such
// text, and the writer puts an element's text after its children.
void SerializeXml(const XmlNode* node, std::string& out, int indent, bool byteOrderMark);
std::string SerializeXml(const XmlNode* node, int indent, bool byteOrderMark = false);

// The exact length SerializeXml appends.
std::size_t MeasureXml(const XmlNode* node, int indent, bool byteOrderMark);
