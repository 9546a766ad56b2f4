// Test helper: writes every argument after the first to the file the first one names, each
// followed by a line feed. The file appears whole (written aside, then renamed), so a test that
// polls for it never reads half of it.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string part = std::string(argv[1]) + ".part";
  std::FILE* file = std::fopen(part.c_str(), "wb");
  if (file == nullptr) return 1;
  for (int i = 2; i < argc; ++i) {
    std::fputs(argv[i], file);
    std::fputc('\n', file);
  }
  if (std::fclose(file) != 0) return 1;
  return std::rename(part.c_str(), argv[1]) == 0 ? 0 : 1;
}
