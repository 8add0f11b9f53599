// Loading an inventory file into a TinyXML document.
#pragma once

#include <string>

class TiXmlDocument;

// Loads `fileName` as TiXmlDocument::LoadFile does (same tree, same error
// state, line ends normalized the same way), only faster: the file is read
// in one piece, line ends are rewritten only when a carriage return occurs,
// and row/column tracking, which nothing here reads and which costs about a
// quarter of the parse, is off. A file whose elements nest deeper than
// kInventoryNestingLimit is refused (false, empty document): parsing and
// freeing it would overflow the stack. True when the document loaded.
constexpr unsigned kInventoryNestingLimit = 1000;
bool LoadInventoryFile(TiXmlDocument& document, const std::string& fileName);
