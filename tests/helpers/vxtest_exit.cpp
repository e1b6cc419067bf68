// Test helper: exits with the code given as its only argument (decimal, the full unsigned 32-bit
// range, so that codes such as 3221225477 reach the parent unchanged).
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vxtest_exit <code>\n");
    return 87;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long code = std::strtoull(argv[1], &end, 10);
  if (errno != 0 || end == argv[1] || *end != '\0' || code > 0xFFFFFFFFull) {
    std::fprintf(stderr, "vxtest_exit: not a 32-bit code: %s\n", argv[1]);
    return 87;
  }
  ::ExitProcess(static_cast<UINT>(code));
}
