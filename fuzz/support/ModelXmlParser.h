// A plain model of the XML library's parsing rules: the same single pass,
// with the end-tag search done literally (every nested start tag of the
// same name searched for its own end tag, no index, no memory of earlier
// searches). The fuzz target compares the library's parser with it.
#pragma once

#include "config/XmlNode.h"

#include <cstddef>
#include <string>
#include <string_view>

// 0 and a new document, or 1 with the error text and position.
int ModelParseXml(std::string_view text, XmlNode** document, std::string* error, std::size_t* position);
