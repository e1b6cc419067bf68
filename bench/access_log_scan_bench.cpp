// Scans one access-log file with the handler's scanner, reading it with plain read() calls, and
// says whether it holds an evidence line. Exit code 0 on a match, 1 without one, 2 on an error.
//
// Usage: vxbench_access_log_scan FILE
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "handler/access_log_scanner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    return 2;
  }
  const auto read = [fd](char* buffer, std::size_t size) -> long long {
    for (;;) {
      const ssize_t count = ::read(fd, buffer, size);
      if (count >= 0 || errno != EINTR) return count;
    }
  };
  vx::AccessLogEvidence line;
  const vx::AccessLogScanResult result = vx::ScanAccessLog(read, line);
  ::close(fd);
  switch (result) {
    case vx::AccessLogScanResult::kMatch:
      std::printf("match: %s\n", vx::PrintableLine(line).c_str());
      return 0;
    case vx::AccessLogScanResult::kNoMatch:
      std::printf("no match\n");
      return 1;
    case vx::AccessLogScanResult::kReadError:
      std::fprintf(stderr, "%s: read error: %s\n", argv[1], std::strerror(errno));
      return 2;
    case vx::AccessLogScanResult::kOutOfMemory:
      std::fprintf(stderr, "%s: out of memory\n", argv[1]);
      return 2;
  }
  return 2;
}
