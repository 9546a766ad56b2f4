// Test helper: a syslog receiver. Binds a datagram socket at the path its first argument names and
// appends every message it receives, as one line, to the file its second argument names, until it
// is ended.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int sink = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  unlink(argv[1]);
  if (sink < 0 || bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  static char message[256 * 1024];
  for (;;) {
    const ssize_t size = recv(sink, message, sizeof message, 0);
    if (size < 0) return 1;
    std::FILE* log = std::fopen(argv[2], "ab");
    if (log == nullptr) return 1;
    std::fwrite(message, 1, static_cast<std::size_t>(size), log);
    std::fputc('\n', log);
    std::fclose(log);
  }
}
