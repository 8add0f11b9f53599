// The forgiving single-pass XML parser of the provider's XML library.
//
// White space is kept (an element's text is all its character data, wherever
// it stood between its children), CDATA sections are folded into the parent's
// value, "<!...>" declarations are kept verbatim, and an element ends at the
// first case-insensitive "</name" (followed by white space, "/" or ">") that
// is not taken by a nested element of the same name. That search also looks
// inside comments, CDATA and attribute values. Nesting depth is limited by
// memory only (no recursion). Time grows with the length of the text (plus
// a sort of its tags), whatever its shape: runs of "<" or "&", long names,
// long attribute lists and many CDATA sections included.
#pragma once

#include "config/XmlNode.h"

#include <cstddef>
#include <string>
#include <string_view>

// Parses text into *document; a null *document gets a new one (name and
// value empty). Returns 0 on success. On failure returns 1, destroys the
// document (also one passed in), sets *document to null, and gives the error
// text (error may be null) and the byte offset where the failing construct
// began (position may be null). Error texts:
//   "Out of memory", "End of comment not found",
//   "End of processing instructions not found", "Empty Name",
//   "End of CDATA block not found", "End of DTD not found",
//   "End of element tag not found", "End tag not found", "End tag malformed",
//   "Empty attribute name", "Attibute missing value (no '=')",
//   "Attribute value not terminated", "Out of memory for attribute".
// The view may hold any bytes (NUL included); the const char* form stops at
// the first NUL and treats null as empty text.
int ParseXml(std::string_view text, XmlNode** document, std::string* error, std::size_t* position);
int ParseXml(const char* text, XmlNode** document, std::string* error, std::size_t* position);
