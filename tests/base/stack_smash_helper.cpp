// Overruns a stack buffer on purpose: a protected program must end with STATUS_STACK_BUFFER_OVERRUN
// instead of returning through a corrupted frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

__attribute__((noinline)) int Overrun(const char* text, std::size_t length) {
  char buffer[16];
  std::memcpy(buffer, text, length);  // length is larger than the buffer
  return buffer[0];
}

}  // namespace

int main(int argc, char** argv) {
  char text[256];
  std::memset(text, 'A', sizeof(text));
  const std::size_t length = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  std::printf("%d\n", Overrun(text, length));
  return 0;
}
