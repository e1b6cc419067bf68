// Test helper: sleeps for the given milliseconds, then, when a marker file is named, writes it and
// exits 0. A parent that terminates it in time never sees the marker.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: vxtest_sleep <milliseconds> [marker-file]\n");
    return 87;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long milliseconds = std::strtoul(argv[1], &end, 10);
  if (errno != 0 || end == argv[1] || *end != '\0') {
    std::fprintf(stderr, "vxtest_sleep: not a number of milliseconds: %s\n", argv[1]);
    return 87;
  }
  ::Sleep(static_cast<DWORD>(milliseconds));
  if (argc == 3) {
    std::FILE* marker = std::fopen(argv[2], "wb");
    if (marker == nullptr) return 1;
    std::fputs("slept\n", marker);
    if (std::fclose(marker) != 0) return 1;
  }
  return 0;
}
