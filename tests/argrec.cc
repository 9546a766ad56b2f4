// Test helper: writes every argument after the first to the file the first one names, each
// followed by a line feed. The file appears whole (written aside, then renamed), so a test that
// polls for it never reads half of it. When the last argument is "linger", it then keeps running
// for a while and marks its end with a second file, named as the first plus ".done".
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

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
  if (std::rename(part.c_str(), argv[1]) != 0) return 1;
  if (argc > 2 && std::string(argv[argc - 1]) == "linger") {
    std::this_thread::sleep_for(std::chrono::seconds(15));
    const std::string done = std::string(argv[1]) + ".done";
    std::FILE* mark = std::fopen(done.c_str(), "wb");
    if (mark == nullptr || std::fclose(mark) != 0) return 1;
  }
  return 0;
}
