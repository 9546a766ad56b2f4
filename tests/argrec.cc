// Test helper: writes every argument after the first to the file the first one names, each
// followed by a line feed, in UTF-8. The file appears whole (written aside, then renamed), so a
// test that polls for it never reads half of it. When the last argument is "linger", it then keeps
// running for a while and marks its end with a second file, named as the first plus ".done".
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// Windows hands a program its command line as UTF-16: the narrow arguments would hold only what
// the ANSI code page can say.
std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &text[0], size, nullptr, nullptr);
    text.pop_back();
    arguments.push_back(text);
  }
  LocalFree(wide);
  return arguments;
}
#else
std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args = Arguments(argc, argv);
  if (args.size() < 2) return 2;
  const std::string part = args[1] + ".part";
  std::FILE* file = std::fopen(part.c_str(), "wb");
  if (file == nullptr) return 1;
  for (std::size_t i = 2; i < args.size(); ++i) {
    std::fputs(args[i].c_str(), file);
    std::fputc('\n', file);
  }
  if (std::fclose(file) != 0) return 1;
  if (std::rename(part.c_str(), args[1].c_str()) != 0) return 1;
  if (args.size() > 2 && args.back() == "linger") {
    std::this_thread::sleep_for(std::chrono::seconds(15));
    const std::string done = args[1] + ".done";
    std::FILE* mark = std::fopen(done.c_str(), "wb");
    if (mark == nullptr || std::fclose(mark) != 0) return 1;
  }
  return 0;
}
