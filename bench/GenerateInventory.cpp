// xpath-inventory-gen ELEMENTS FILE: writes a synthetic inventory document.
#include "bench/InventoryGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ELEMENTS FILE\n", argv[0]);
    return 2;
  }
  std::size_t elements = std::strtoul(argv[1], nullptr, 10);
  std::ofstream out(argv[2], std::ios::binary);
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  std::size_t written = WriteInventory(out, elements);
  out.close();
  if (!out) {
    std::fprintf(stderr, "writing %s failed\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu elements\n", argv[2], written);
  return 0;
}
