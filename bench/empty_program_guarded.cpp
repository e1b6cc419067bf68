// An empty program with one stack-protected function. Its start-up includes the set-up of the
// stack-protector guard by the MinGW runtime, which every program built with the project's
// hardening flags pays once a function of it is protected; the difference to empty_program shows
// that share of a program's start-up under Wine.
#include <cstring>

int main(int argc, char** argv) {
  char name[64];
  std::strncpy(name, argv[0], sizeof(name) - 1);
  name[sizeof(name) - 1] = '\0';
  return name[argc % 2] == '\x7f' ? 1 : 0;
}
