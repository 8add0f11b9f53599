// Loading an inventory file into a TinyXML document.
#pragma once

#include <cstdint>
#include <string>

class TiXmlDocument;

// Loads `fileName` as TiXmlDocument::LoadFile does (same tree, same error
// state, line ends normalized the same way), only faster: the file is read
// in one piece, line ends are rewritten only when a carriage return occurs,
// and row/column tracking, which nothing here reads and which costs about a
// quarter of the parse, is off. True when the document loaded.
//
// Refused without parsing (false, empty document, the reason in *reason
// when given): anything but a regular file (a directory, pipe or device is
// never read, and opening it never waits); a file larger than
// kInventorySizeLimit, far above any real inventory; a file whose elements
// nest deeper than kInventoryNestingLimit (parsing and freeing it would
// overflow the stack); and a file that does not fit in memory.
constexpr unsigned kInventoryNestingLimit = 1000;
constexpr std::uint64_t kInventorySizeLimit = std::uint64_t{256} << 20;
bool LoadInventoryFile(TiXmlDocument& document, const std::string& fileName, std::string* reason = nullptr);
