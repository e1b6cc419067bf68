// Test helper: writes its current directory (no line break) into the file named by its argument.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vxtest_cwd <output-file>\n");
    return 87;
  }
  const DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return static_cast<int>(::GetLastError());
  std::vector<char> directory(needed, '\0');
  const DWORD length = ::GetCurrentDirectoryA(needed, directory.data());
  if (length == 0 || length >= needed) return 1;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const bool written = std::fwrite(directory.data(), 1, length, out) == length;
  if (std::fclose(out) != 0 || !written) return 1;
  return 0;
}
