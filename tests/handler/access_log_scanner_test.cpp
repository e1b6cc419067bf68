#include "handler/access_log_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>


namespace vx {
namespace {

using namespace std::string_literals;

struct LineCase {
  const char* name;
  std::string line;
  bool evidence;
};

TEST(EvidenceLine, Table) {
  const LineCase cases[] = {
      {"first terms", "KB500100 APD Deploy 22-05-16", true},
      {"second patch, mixed-case second deployment, last date", "30716 by pAtCh TeSt GrOuP on 22-05-13", true},
      {"terms in any order", "22-05-14 Patch test group 500100", true},
      {"date inside a longer date", "2022-05-15 10:00 500100 APD DEPLOY", true},
      {"no patch term", "KB500101 APD Deploy 22-05-16", false},
      {"deployment term inside a longer word", "500100 APD Deploys are off 22-05-16", true},
      {"deployment term split", "500100 APD  Deploy 22-05-16", false},
      {"day after the first date", "500100 APD Deploy 22-05-17", false},
      {"day before the last date", "500100 APD Deploy 22-05-12", false},
      {"only patch and date", "500100 22-05-16", false},
      {"empty", "", false},
      {"non-ASCII bytes around the terms", "\xE9\xFF" "500100\x80 apd deploy\xC3\xA9 22-05-15\xFE", true},
      {"NUL bytes between the terms", "500100\0APD Deploy\0" "22-05-14"s, true},
      {"non-ASCII letters do not fold to ASCII", "500100 \xC1PD Deploy 22-05-16", false},
  };
  for (const LineCase& c : cases) EXPECT_EQ(IsEvidenceLine(c.line), c.evidence) << c.name;
}

// Reads text in blocks of at most block_size bytes.
struct StringReader {
  std::string text;
  std::size_t block_size;
  std::size_t position = 0;
  long long operator()(char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, block_size, text.size() - position});
    std::memcpy(buffer, text.data() + position, count);
    position += count;
    return static_cast<long long>(count);
  }
};

// The scanner's own read block is small here, so that lines longer than it are common. line gets
// the kept text, and " [cut]" after it when the line was longer than bound.
AccessLogScanResult Scan(const std::string& text, std::size_t block_size, std::string& line,
                         std::size_t bound = kEvidenceLineBound) {
  StringReader reader{text, block_size};
  AccessLogEvidence evidence;
  const AccessLogScanResult result = ScanAccessLog(std::ref(reader), evidence, 64, bound);
  if (result == AccessLogScanResult::kMatch) line = evidence.text + (evidence.cut ? " [cut]" : "");
  return result;
}

// What a scan with a line bound keeps of the whole line.
std::string Bounded(const std::string& line, std::size_t bound) {
  return line.size() > bound ? line.substr(0, bound) + " [cut]" : line;
}

struct ScanCase {
  const char* name;
  std::string text;
  AccessLogScanResult result;
  std::string line;
};

TEST(ScanAccessLog, LinesAndLineEnds) {
  const std::string evidence = "2022-05-16 KB500100 APD Deploy done";
  const std::string big(3 * 1024, 'x');  // far beyond the scanner's 64-byte block here
  const ScanCase cases[] = {
      {"empty file", "", AccessLogScanResult::kNoMatch, ""},
      {"LF lines", "a\n" + evidence + "\nb\n", AccessLogScanResult::kMatch, evidence},
      {"CR LF lines: the CR is not part of the line", "a\r\n" + evidence + "\r\nb\r\n", AccessLogScanResult::kMatch,
       evidence},
      {"last line without LF", "a\nb\n" + evidence, AccessLogScanResult::kMatch, evidence},
      {"last line without LF keeps a CR", "a\n" + evidence + "\r", AccessLogScanResult::kMatch, evidence + "\r"},
      {"lone CR inside a line stays", "x\r" + evidence + "\n", AccessLogScanResult::kMatch, "x\r" + evidence},
      {"terms over two lines", "500100 APD Deploy\n22-05-16\n", AccessLogScanResult::kNoMatch, ""},
      {"first match wins", "500100 APD Deploy 22-05-16 one\n500100 APD Deploy 22-05-16 two\n",
       AccessLogScanResult::kMatch, "500100 APD Deploy 22-05-16 one"},
      {"patch-term lines that are not evidence are skipped", "500100 only\n30716 APD Deploy\n" + evidence + "\n",
       AccessLogScanResult::kMatch, evidence},
      {"3 KB line with terms at start, middle and end",
       "short\n500100" + big + "APD Deploy" + big + "22-05-13\nnext\n", AccessLogScanResult::kMatch,
       "500100" + big + "APD Deploy" + big + "22-05-13"},
      {"3 KB line with the patch term last", "APD Deploy 22-05-13" + big + "30716", AccessLogScanResult::kMatch,
       "APD Deploy 22-05-13" + big + "30716"},
      {"3 KB line without the date", "500100" + big + "APD Deploy" + big + "\n", AccessLogScanResult::kNoMatch, ""},
      {"NUL and high bytes", "\0\xFF\n\x80" "500100\0" "Patch test group\x90 22-05-15\r\n"s, AccessLogScanResult::kMatch,
       "\x80" "500100\0" "Patch test group\x90 22-05-15"s},
  };
  for (const ScanCase& c : cases) {
    for (std::size_t block : {std::size_t{1}, std::size_t{3}, std::size_t{17}, std::size_t{4096}, std::size_t{1} << 22}) {
      for (std::size_t bound : {kEvidenceLineBound, std::size_t{1}, std::size_t{35}, std::size_t{36}}) {
        std::string line = "untouched";
        const AccessLogScanResult result = Scan(c.text, block, line, bound);
        EXPECT_EQ(result, c.result) << c.name << " (blocks of " << block << ", bound " << bound << ")";
        EXPECT_EQ(line, c.result == AccessLogScanResult::kMatch ? Bounded(c.line, bound) : "untouched")
            << c.name << " (blocks of " << block << ", bound " << bound << ")";
      }
    }
  }
}

// The first evidence line found by reading the whole text and splitting it, as a reference.
bool NaiveScan(const std::string& text, std::string& line) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool has_lf = end != std::string::npos;
    if (!has_lf) end = text.size();
    std::string candidate = text.substr(start, end - start);
    if (has_lf && !candidate.empty() && candidate.back() == '\r') candidate.pop_back();
    if (IsEvidenceLine(candidate)) {
      line = candidate;
      return true;
    }
    start = end + 1;
  }
  return false;
}

TEST(ScanAccessLog, AgreesWithSplittingTheWholeTextForRandomLogsAndReadSizes) {
  const char* fragments[] = {"500100", "30716", "APD Deploy", "patch TEST group", "22-05-16", "22-05-13",
                             "22-05-17", "\n",   "\r\n",       "\r",                "filler ",  "5001",
                             "\x80\xFF",     "APD"};
  std::mt19937 random(4242);
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const int pieces = static_cast<int>(random() % 40);
    for (int i = 0; i < pieces; ++i) text += fragments[random() % std::size(fragments)];
    std::string expected_line;
    const bool expected = NaiveScan(text, expected_line);
    const std::size_t block = 1 + random() % 23;
    const std::size_t bound = round % 2 == 0 ? kEvidenceLineBound : 1 + random() % 40;
    std::string line;
    const AccessLogScanResult result = Scan(text, block, line, bound);
    ASSERT_EQ(result, expected ? AccessLogScanResult::kMatch : AccessLogScanResult::kNoMatch) << text;
    if (expected) {
      ASSERT_EQ(line, Bounded(expected_line, bound)) << text;
    }
  }
}

TEST(ScanAccessLog, ReadErrorEndsTheScan) {
  int calls = 0;
  AccessLogEvidence evidence;
  const auto read = [&](char* buffer, std::size_t) -> long long {
    if (++calls == 1) {
      std::memcpy(buffer, "500100 APD", 10);
      return 10;
    }
    return -1;
  };
  EXPECT_EQ(ScanAccessLog(read, evidence), AccessLogScanResult::kReadError);
  const auto throwing = [](char*, std::size_t) -> long long { throw std::bad_alloc(); };
  EXPECT_EQ(ScanAccessLog(throwing, evidence), AccessLogScanResult::kOutOfMemory);
}

// The largest single allocation made on this thread while tracking is on.
bool g_tracking = false;
std::size_t g_largest_allocation = 0;

// Lines far longer than any buffer, made up while read (the groups' terms where asked), read with
// the production block size: the scan's memory stays that of one block however long the line, and
// the answer does not depend on it.
TEST(ScanAccessLog, MemoryDoesNotGrowWithTheLine) {
  struct Case {
    const char* name;
    std::string head;  // then filler bytes, then tail and an LF
    std::string tail;
    AccessLogScanResult result;
  };
  const Case cases[] = {
      {"terms at both ends", "Patch test group 22-05-14 ", " 30716", AccessLogScanResult::kMatch},
      {"terms at the start", "500100 APD Deploy 22-05-16 ", "", AccessLogScanResult::kMatch},
      {"date missing", "500100 APD Deploy ", " 22-05-17", AccessLogScanResult::kNoMatch},
  };
  constexpr std::size_t kFiller = std::size_t{8} << 20;  // eight read blocks
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text_end = c.tail + "\nnext line\n";
    std::size_t position = 0;
    const std::size_t total = c.head.size() + kFiller + text_end.size();
    const auto read = [&](char* buffer, std::size_t size) -> long long {
      const std::size_t count = std::min(size, total - position);
      for (std::size_t i = 0; i < count; ++i, ++position) {
        const std::size_t in_end = position - std::min(position, c.head.size() + kFiller);
        buffer[i] = position < c.head.size()                ? c.head[position]
                    : position < c.head.size() + kFiller ? 'x'
                                                           : text_end[in_end];
      }
      return static_cast<long long>(count);
    };
    AccessLogEvidence evidence;
    g_largest_allocation = 0;
    g_tracking = true;
    const AccessLogScanResult result = ScanAccessLog(read, evidence);
    g_tracking = false;
    EXPECT_EQ(result, c.result);
    EXPECT_LE(g_largest_allocation, kDefaultAccessLogReadBlock + 64);
    if (c.result == AccessLogScanResult::kMatch) {
      EXPECT_TRUE(evidence.cut);
      EXPECT_EQ(evidence.text, (c.head + std::string(kEvidenceLineBound, 'x')).substr(0, kEvidenceLineBound));
      EXPECT_EQ(PrintableLine(evidence), evidence.text + kCutLineMark);
    }
  }
}

// A plain reference search to compare the vectorised one with.
std::size_t NaiveFindFirst(std::string_view text, const std::vector<std::string>& terms) {
  for (std::size_t position = 0; position < text.size(); ++position) {
    for (const std::string& term : terms) {
      if (term.size() > text.size() - position) continue;
      bool equal = true;
      for (std::size_t k = 0; k < term.size() && equal; ++k) {
        const char c = text[position + k];
        const char lowered = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        equal = lowered == term[k];
      }
      if (equal) return position;
    }
  }
  return std::string_view::npos;
}

TEST(TermSet, AgreesWithAPlainSearchOnRandomText) {
  const TermSet terms{"500100", "30716", "APD Deploy"};
  const std::vector<std::string> lowered{"500100", "30716", "apd deploy"};
  std::mt19937 random(12345);
  // An alphabet rich in the terms' own bytes, so that near misses are common.
  const std::string alphabet = "0135670135APDapd Deploy\n\r\x80\xC1";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 200, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    if (round % 3 == 0 && !text.empty()) text.insert(random() % text.size(), round % 2 ? "30716" : "aPd DePlOy");
    ASSERT_EQ(terms.FindFirst(text), NaiveFindFirst(text, lowered)) << text;
  }
}

TEST(TermSet, FindsTermsAtTheVeryEndOfText) {
  const TermSet terms{"500100", "30716"};
  for (std::size_t padding = 0; padding < 64; ++padding) {
    const std::string text = std::string(padding, '0') + "30716";
    EXPECT_EQ(terms.FindFirst(text), padding);
    EXPECT_EQ(terms.FindFirst(std::string_view(text).substr(0, text.size() - 1)), std::string_view::npos);
  }
}

TEST(PrintableLine, NulBytesBecomeBlanks) { EXPECT_EQ(PrintableLine({"a\0b\0"s, false}), "a b "); }

}  // namespace
}  // namespace vx

// Counts the largest allocation while a test tracks it; otherwise the usual operator new.
void* operator new(std::size_t size) {
  if (vx::g_tracking) vx::g_largest_allocation = std::max(vx::g_largest_allocation, size);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
// GCC takes the replaced pair for a mismatch once it inlines a library's allocation into a test.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
