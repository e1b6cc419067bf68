#include "handler/access_log_scanner.h"

#include "base/ascii_text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VX_HAVE_SSE2 1
#include <emmintrin.h>
#endif

namespace vx {
namespace {


const TermSet& PatchTerms() {
  static const TermSet terms{"500100", "30716"};
  return terms;
}
const TermSet& DeploymentTerms() {
  static const TermSet terms{"APD Deploy", "Patch test group"};
  return terms;
}
const TermSet& DateTerms() {
  static const TermSet terms{"22-05-16", "22-05-15", "22-05-14", "22-05-13"};
  return terms;
}


}  // namespace

TermSet::TermSet(std::initializer_list<std::string_view> terms) {
  for (std::string_view term : terms) {
    if (count_ == kMaxTerms || term.empty()) continue;
    terms_[count_++] = ToLowerAscii(term);
  }
  shortest_ = count_ == 0 ? 0 : terms_[0].size();
  for (std::size_t i = 0; i < count_; ++i) {
    shortest_ = std::min(shortest_, terms_[i].size());
    longest_ = std::max(longest_, terms_[i].size());
  }
}

bool TermSet::TermAt(std::string_view text, std::size_t position) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const std::string& term = terms_[i];
    if (term.size() > text.size() - position) continue;
    std::size_t k = 0;
    while (k < term.size() && LowerAscii(text[position + k]) == term[k]) ++k;
    if (k == term.size()) return true;
  }
  return false;
}

std::size_t TermSet::FindFirst(std::string_view text) const {
  if (count_ == 0 || text.size() < shortest_) return std::string_view::npos;
  const std::size_t last_start = text.size() - shortest_;  // no term can start after this
  std::size_t position = 0;
#ifdef VX_HAVE_SSE2
  // Candidates are positions whose first, second and last bytes match some term's (letters
  // compared with the case bit set); each candidate is then compared in full. 16 positions per step.
  const std::size_t reach = longest_ - 1;  // the last-byte load of the longest term
  if (text.size() >= 16 + reach && shortest_ >= 2) {
    struct Probe {
      __m128i value;
      __m128i fold;
    };
    auto probe = [](char c) {
      return Probe{_mm_set1_epi8(c), _mm_set1_epi8(IsAsciiLetter(c) ? 0x20 : 0)};
    };
    auto matches = [](const Probe& p, __m128i bytes) {
      return _mm_cmpeq_epi8(_mm_or_si128(bytes, p.fold), p.value);
    };
    Probe first[kMaxTerms];
    Probe second[kMaxTerms];
    Probe last[kMaxTerms];
    for (std::size_t i = 0; i < count_; ++i) {
      first[i] = probe(terms_[i][0]);
      second[i] = probe(terms_[i][1]);
      last[i] = probe(terms_[i].back());
    }
    const char* data = text.data();
    for (; position + 16 + reach <= text.size(); position += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + position));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + position + 1));
      unsigned mask = 0;
      for (std::size_t i = 0; i < count_; ++i) {
        const __m128i tail =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + position + terms_[i].size() - 1));
        const __m128i hit = _mm_and_si128(_mm_and_si128(matches(first[i], block), matches(second[i], next)),
                                          matches(last[i], tail));
        mask |= static_cast<unsigned>(_mm_movemask_epi8(hit));
      }
      while (mask != 0) {
        const std::size_t candidate = position + static_cast<std::size_t>(std::countr_zero(mask));
        if (candidate <= last_start && TermAt(text, candidate)) return candidate;
        mask &= mask - 1;
      }
    }
  }
#endif
  for (; position <= last_start; ++position) {
    if (TermAt(text, position)) return position;
  }
  return std::string_view::npos;
}

bool IsEvidenceLine(std::string_view line) {
  return PatchTerms().FoundIn(line) && DeploymentTerms().FoundIn(line) && DateTerms().FoundIn(line);
}

namespace {

// The carry keeps the last bytes of an unfinished line in front of the next read, so a term that
// the read splits is still found whole: one byte fewer than the longest term.
constexpr std::size_t kCarry = 15;
static_assert(kCarry >= 1);

// The state of the line being read: which groups it has matched so far and the first bytes of
// its text, kept up to the bound plus one byte (so a cut is known without the rest of the line).
class LineState {
 public:
  explicit LineState(std::size_t bound) : bound_(bound) {}

  void Reset() {
    patch_ = deployment_ = date_ = false;
    length_ = 0;
    last_ = '\0';
    prefix_.clear();
  }
  // part: the line's bytes in this read, with up to kCarry bytes seen before in front; fresh: how
  // many of them are new.
  void Add(std::string_view part, std::size_t fresh) {
    if (!patch_) patch_ = PatchTerms().FoundIn(part);
    if (!deployment_) deployment_ = DeploymentTerms().FoundIn(part);
    if (!date_) date_ = DateTerms().FoundIn(part);
    const std::string_view added = part.substr(part.size() - fresh);
    if (!added.empty()) last_ = added.back();
    length_ += added.size();
    const std::size_t room = bound_ + 1 - std::min(prefix_.size(), bound_ + 1);
    prefix_.append(added.data(), std::min(room, added.size()));
  }
  [[nodiscard]] bool Matched() const { return patch_ && deployment_ && date_; }
  // True once the line is known to be longer than the bound, whatever follows.
  [[nodiscard]] bool BeyondBound() const { return length_ >= bound_ + 2; }
  // The evidence: the text (without a CR before the LF that ended it) up to the bound.
  void Finish(bool ended_by_lf, AccessLogEvidence& evidence) const {
    std::size_t text_length = length_;
    if (ended_by_lf && text_length > 0 && last_ == '\r' && !BeyondBound()) --text_length;
    evidence.cut = BeyondBound() || text_length > bound_;
    evidence.text.assign(prefix_.data(), std::min({text_length, bound_, prefix_.size()}));
  }

 private:
  std::size_t bound_;
  bool patch_ = false;
  bool deployment_ = false;
  bool date_ = false;
  std::size_t length_ = 0;
  char last_ = '\0';
  std::string prefix_;
};

// Looks at the complete lines of [begin, end) (end is just past an LF, or begin == end) for
// evidence. Only lines holding a patch term can be evidence, and they are rare: those are found
// with one search over all the lines, and only their lines are searched for the other groups.
bool FindInCompleteLines(const char* data, std::size_t begin, std::size_t end, std::size_t bound,
                         AccessLogEvidence& evidence) {
  std::size_t search_from = begin;
  while (search_from < end) {
    const std::size_t hit = PatchTerms().FindFirst(std::string_view(data + search_from, end - search_from));
    if (hit == std::string_view::npos) return false;
    const std::size_t hit_at = search_from + hit;
    std::size_t line_begin = hit_at;
    while (line_begin > begin && data[line_begin - 1] != '\n') --line_begin;
    const std::size_t lf = static_cast<std::size_t>(
        static_cast<const char*>(std::memchr(data + hit_at, '\n', end - hit_at)) - data);
    std::size_t text_end = lf;
    if (text_end > line_begin && data[text_end - 1] == '\r') --text_end;
    const std::string_view line(data + line_begin, text_end - line_begin);
    if (DeploymentTerms().FoundIn(line) && DateTerms().FoundIn(line)) {
      evidence.cut = line.size() > bound;
      evidence.text.assign(line.data(), std::min(line.size(), bound));
      return true;
    }
    search_from = lf + 1;
  }
  return false;
}

AccessLogScanResult Scan(const std::function<long long(char* buffer, std::size_t size)>& read,
                         AccessLogEvidence& evidence, std::size_t read_block, std::size_t bound) {
  // buffer[kCarry - carry, kCarry + count): the carried bytes of the current line, then one read.
  std::vector<char> buffer(kCarry + read_block);
  char* const read_area = buffer.data() + kCarry;
  LineState line(bound);
  std::size_t carry = 0;
  for (;;) {
    const long long count = read(read_area, read_block);
    if (count < 0) return AccessLogScanResult::kReadError;
    if (count == 0) {
      // The last line has no LF; it is examined as it is.
      if (!line.Matched()) return AccessLogScanResult::kNoMatch;
      line.Finish(false, evidence);
      return AccessLogScanResult::kMatch;
    }
    const std::size_t filled = static_cast<std::size_t>(std::min<long long>(count, static_cast<long long>(read_block)));
    const char* const data = read_area - carry;
    const std::size_t end = carry + filled;
    const void* first_lf = std::memchr(read_area, '\n', filled);
    std::size_t line_start = 0;  // where the line that goes on into the next read begins
    if (first_lf == nullptr) {
      line.Add(std::string_view(data, end), filled);
      if (line.Matched() && line.BeyondBound()) {
        line.Finish(false, evidence);
        return AccessLogScanResult::kMatch;
      }
    } else {
      // The line that was being read ends here.
      const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(first_lf) - data);
      line.Add(std::string_view(data, lf), lf - carry);
      if (line.Matched()) {
        line.Finish(true, evidence);
        return AccessLogScanResult::kMatch;
      }
      line.Reset();
      // Complete lines up to the last LF, then the start of an unfinished one.
      line_start = end;
      while (data[line_start - 1] != '\n') --line_start;
      if (FindInCompleteLines(data, lf + 1, line_start, bound, evidence)) return AccessLogScanResult::kMatch;
      line.Add(std::string_view(data + line_start, end - line_start), end - line_start);
    }
    // Carry the last bytes of the unfinished line in front of the next read.
    const std::size_t next_carry = std::min(kCarry, end - line_start);
    char kept[kCarry];
    std::memcpy(kept, data + end - next_carry, next_carry);
    std::memcpy(read_area - next_carry, kept, next_carry);
    carry = next_carry;
  }
}

}  // namespace

AccessLogScanResult ScanAccessLog(const std::function<long long(char* buffer, std::size_t size)>& read,
                                  AccessLogEvidence& evidence, std::size_t read_block, std::size_t line_bound) {
  try {
    return Scan(read, evidence, std::max<std::size_t>(read_block, 1), line_bound);
  } catch (...) {
    // Memory for the read block or the line's first bytes could not be had (or the reader threw):
    // the scan ends without evidence.
    return AccessLogScanResult::kOutOfMemory;
  }
}

std::string PrintableLine(const AccessLogEvidence& evidence) {
  std::string printable = evidence.text;
  std::replace(printable.begin(), printable.end(), '\0', ' ');
  if (evidence.cut) printable += kCutLineMark;
  return printable;
}

}  // namespace vx
