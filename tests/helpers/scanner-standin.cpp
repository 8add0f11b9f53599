// Stands in for the inventory scanner: writes its arguments, one per line,
// to "scan-args.txt" beside itself, then exits.
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  std::string self = argv[0];
  std::size_t cut = self.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? "." : self.substr(0, cut);
  std::ofstream out(folder + "/scan-args.txt", std::ios::trunc);
  for (int i = 1; i < argc; ++i) out << argv[i] << "\n";
  return 0;
}
