// Synthetic inventory documents shaped like the scanner's output: a root
// element with hardware sections, a long software list of products with
// name, vendor and version attributes, their files with sizes, and nested
// components. Only elements and attributes, so that TinyXML and libxml2
// hold the same nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

// Writes a document of about `elements` elements (never fewer); returns
// the exact number written. The same arguments give the same document.
std::size_t WriteInventory(std::ostream& out, std::size_t elements, std::uint32_t seed = 20240501);
