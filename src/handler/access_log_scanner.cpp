#include "handler/access_log_scanner.h"

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

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

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
    std::string lowered(term);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
    terms_[count_++] = std::move(lowered);
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
    while (k < term.size() && AsciiLower(text[position + k]) == term[k]) ++k;
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

std::string PrintableLine(std::string_view line) {
  std::string printable(line);
  std::replace(printable.begin(), printable.end(), '\0', ' ');
  return printable;
}

AccessLogScanResult ScanAccessLog(const std::function<long long(char* buffer, std::size_t size)>& read,
                                  std::string& matching_line, std::size_t read_block) {
  read_block = std::max<std::size_t>(read_block, 1);
  std::vector<char> buffer;
  try {
    // Room for one block beside an unfinished line of up to one block; longer lines grow it.
    buffer.resize(2 * read_block);
  } catch (const std::bad_alloc&) {
    return AccessLogScanResult::kOutOfMemory;
  }
  // buffer[line_start, filled) holds the current, unfinished line and the bytes read after it.
  // Every position is looked at a bounded number of times however the reads split the lines:
  //   search_from   where the patch-term search resumes;
  //   no_lf_until   [line_start, no_lf_until) is known to hold no LF;
  //   candidate     the current line holds a patch term; its LF is searched from lf_from on.
  std::size_t filled = 0;
  std::size_t line_start = 0;
  std::size_t search_from = 0;
  std::size_t no_lf_until = 0;
  std::size_t lf_from = 0;
  bool candidate = false;
  bool at_end = false;
  const TermSet& patch_terms = PatchTerms();

  for (;;) {
    const char* data = buffer.data();
    for (;;) {
      if (candidate) {
        const void* lf = std::memchr(data + lf_from, '\n', filled - lf_from);
        if (lf == nullptr && !at_end) {
          lf_from = filled;  // the line goes on beyond what has been read
          break;
        }
        const std::size_t end =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : filled;
        std::size_t text_end = end;
        if (lf != nullptr && text_end > line_start && data[text_end - 1] == '\r') --text_end;
        const std::string_view line(data + line_start, text_end - line_start);
        if (DeploymentTerms().FoundIn(line) && DateTerms().FoundIn(line)) {
          matching_line.assign(line.data(), line.size());
          return AccessLogScanResult::kMatch;
        }
        if (lf == nullptr) return AccessLogScanResult::kNoMatch;  // that was the last line
        candidate = false;
        line_start = search_from = no_lf_until = end + 1;
        continue;
      }
      // Only lines holding a patch term can be evidence, and they are rare: look for those.
      const std::size_t hit = patch_terms.FindFirst(std::string_view(data + search_from, filled - search_from));
      if (hit == std::string_view::npos) {
        // Every complete line up to the last LF is done with; keep the unfinished one, and go back
        // far enough to find a term that the next read completes.
        const std::size_t floor = std::max(line_start, no_lf_until);
        for (std::size_t i = filled; i > floor; --i) {
          if (data[i - 1] == '\n') {
            line_start = i;
            break;
          }
        }
        no_lf_until = filled;
        const std::size_t overlap = patch_terms.LongestTermLength() - 1;
        search_from = std::max(line_start, filled > overlap ? filled - overlap : 0);
        break;
      }
      const std::size_t hit_at = search_from + hit;
      // The hit's line starts after the last LF before it; [line_start, floor) holds none.
      const std::size_t floor = std::max(line_start, no_lf_until);
      std::size_t begin = hit_at;
      while (begin > floor && data[begin - 1] != '\n') --begin;
      if (begin <= floor) begin = line_start;
      line_start = begin;
      lf_from = hit_at;
      candidate = true;
    }
    if (at_end) return AccessLogScanResult::kNoMatch;

    // Drop what is done, and make room for one more block (growing for a line longer than it).
    if (line_start > 0) {
      const std::size_t kept = filled - line_start;
      std::memmove(buffer.data(), buffer.data() + line_start, kept);
      search_from -= line_start;
      no_lf_until = no_lf_until > line_start ? no_lf_until - line_start : 0;
      lf_from = lf_from > line_start ? lf_from - line_start : 0;
      filled = kept;
      line_start = 0;
    }
    if (buffer.size() - filled < read_block) {
      try {
        buffer.resize(std::max(buffer.size() * 2, filled + read_block));
      } catch (const std::bad_alloc&) {
        return AccessLogScanResult::kOutOfMemory;
      }
    }
    const long long count = read(buffer.data() + filled, buffer.size() - filled);
    if (count < 0) return AccessLogScanResult::kReadError;
    if (count == 0) {
      at_end = true;
    } else {
      filled += static_cast<std::size_t>(count);
    }
  }
}

}  // namespace vx
