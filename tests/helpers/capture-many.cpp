// Prints COUNT numbered lines ("line 000000"), cycling through the line
// ends "\n", "\r\n", "\r" and "\r\n\n\r"; with "open" the last line has none.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  bool openEnd = argc > 2 && std::strcmp(argv[2], "open") == 0;
  const char* ends[] = {"\n", "\r\n", "\r", "\r\n\n\r"};
  for (long i = 0; i < count; ++i) {
    std::printf("line %06ld", i);
    if (!(openEnd && i == count - 1)) std::fputs(ends[i % 4], stdout);
  }
  return 0;
}
