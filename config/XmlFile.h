// Whole-file load and save of XML documents (binary, bytes kept as they are).
#pragma once

#include "config/XmlNode.h"

#include <cstddef>
#include <string>

// Reads and parses the whole file into a new *document (null on failure).
// A leading UTF-8 byte-order mark is skipped and remembered as the
// document's value, so that a later save writes it again. Errors: the
// system's text for a failed open (cut to 127 characters), "Unexpected
// number of bytes read", or a parse error of ParseXml; position (may be
// null) is then the byte offset in the file.
int LoadXmlFile(const std::string& path, XmlNode** document, std::string* error,
                std::size_t* position = nullptr);

// Serializes node (see SerializeXml) and writes the file whole. Errors: the
// system's text for a failed open, "Unexpected number of bytes written"
// (also when the data cannot be flushed to the file).
int SaveXmlFile(const XmlNode* node, const std::string& path, int indent, bool byteOrderMark,
                std::string* error = nullptr);
