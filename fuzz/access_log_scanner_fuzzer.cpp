// libFuzzer target: the access-log scanner on any bytes, read in blocks of any sizes and with any
// bound on the kept line, must give the same answer as splitting the whole text into lines (and
// keep that line's first bytes up to the bound), and never read outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "handler/access_log_scanner.h"

namespace {

bool FirstEvidenceLine(std::string_view text, std::string& line) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool has_lf = end != std::string_view::npos;
    if (!has_lf) end = text.size();
    std::string_view candidate = text.substr(start, end - start);
    if (has_lf && !candidate.empty() && candidate.back() == '\r') candidate.remove_suffix(1);
    if (vx::IsEvidenceLine(candidate)) {
      line.assign(candidate);
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the pattern of read sizes, the rest is the log.
  const unsigned pattern = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t position = 0;
  unsigned step = 0;
  const auto read = [&](char* buffer, std::size_t capacity) -> long long {
    const std::size_t wanted = 1 + ((pattern * 31u + step++ * 7u) % 64u);
    const std::size_t count = std::min({capacity, wanted, text.size() - position});
    std::memcpy(buffer, text.data() + position, count);
    position += count;
    return static_cast<long long>(count);
  };
  vx::AccessLogEvidence scanned;
  const std::size_t bound = pattern % 3 == 0 ? vx::kEvidenceLineBound : 1 + pattern % 53;
  const vx::AccessLogScanResult result = vx::ScanAccessLog(read, scanned, 1 + pattern % 97, bound);
  std::string expected;
  const bool found = FirstEvidenceLine(text, expected);
  if (found != (result == vx::AccessLogScanResult::kMatch)) std::abort();
  if (found && (scanned.text != expected.substr(0, bound) || scanned.cut != (expected.size() > bound))) std::abort();
  return 0;
}
