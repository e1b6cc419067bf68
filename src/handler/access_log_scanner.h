// The scan of the patch-installation access log for the evidence line (portable).
//
// A line is the bytes up to LF (LF not included; a CR just before it is dropped, as a text-mode
// read does; a last line without LF counts too). It is evidence when it contains, compared with
// ASCII case folding, a patch term, a deployment term and a date term:
//   patch:      "500100", "30716"
//   deployment: "APD Deploy", "Patch test group"
//   date:       "22-05-16", "22-05-15", "22-05-14", "22-05-13"
// Lines may be of any length and hold any bytes (0x80 and above, NUL). The scanner keeps one read
// block, the groups the current line has matched so far and the line's first bytes up to a bound:
// its memory does not grow with the length of a line or of the file, so its answer is the same on
// any machine. It never reads outside its buffer and no exception leaves it.
//
// Thread-safety: the functions keep no shared state (the term sets are constant after their first
// use, which C++ makes thread-safe); calls on different readers may run at once.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vx {

// Finds the earliest occurrence of any of a fixed set of ASCII terms, ignoring ASCII case.
class TermSet {
 public:
  static constexpr std::size_t kMaxTerms = 4;
  TermSet(std::initializer_list<std::string_view> terms);

  // Offset of the first byte of the earliest occurrence of any term in text, or npos.
  [[nodiscard]] std::size_t FindFirst(std::string_view text) const;
  [[nodiscard]] bool FoundIn(std::string_view text) const { return FindFirst(text) != std::string_view::npos; }
  [[nodiscard]] std::size_t LongestTermLength() const { return longest_; }

 private:
  [[nodiscard]] bool TermAt(std::string_view text, std::size_t position) const;

  std::array<std::string, kMaxTerms> terms_;  // lower case
  std::size_t count_ = 0;
  std::size_t shortest_ = 0;
  std::size_t longest_ = 0;
};

// True when one line holds a term of each of the three groups.
[[nodiscard]] bool IsEvidenceLine(std::string_view line);

enum class AccessLogScanResult { kMatch, kNoMatch, kReadError, kOutOfMemory };

inline constexpr std::size_t kDefaultAccessLogReadBlock = std::size_t{1} << 20;
// The evidence line is kept and logged up to this many bytes.
inline constexpr std::size_t kEvidenceLineBound = 64 * 1024;
// Follows the kept bytes of an evidence line that was longer than the bound.
inline constexpr const char* kCutLineMark = " [... line cut]";

struct AccessLogEvidence {
  std::string text;  // the line without its line end, up to the bound
  bool cut = false;  // the line goes on beyond the bound
};

// Reads the log block by block through read (bytes read into a buffer of at most size bytes, 0 at
// the end, negative on a read error) and stops at the first evidence line, whose first bytes (up
// to line_bound) it stores in evidence; evidence is untouched without a match. kOutOfMemory when
// the read block cannot be had (or read throws).
[[nodiscard]] AccessLogScanResult ScanAccessLog(const std::function<long long(char* buffer, std::size_t size)>& read,
                                                AccessLogEvidence& evidence,
                                                std::size_t read_block = kDefaultAccessLogReadBlock,
                                                std::size_t line_bound = kEvidenceLineBound);

// The line as it is written to the log: NUL bytes become blanks so the whole kept text is visible,
// and a cut line ends with kCutLineMark.
[[nodiscard]] std::string PrintableLine(const AccessLogEvidence& evidence);

}  // namespace vx
