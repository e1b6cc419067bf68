// Parsing a criteria whose one literal is long: ParseCriteria of "NAME = '<n characters>'" for
// lengths doubling from the first to the last size given, each the median of the repetitions, beside
// a copy of the same text (the floor of any scanner: every byte is read once). Scanning is linear when
// doubling the literal about doubles the time.
//
// Usage: vxbench_criteria_literal [FIRST_MIB [LAST_MIB [REPETITIONS]]]   (defaults: 1 8 3)
// Prints per size:
//   literal mib=<n> parse_s=<t> copy_s=<t> ratio=<parse/copy> doubling=<t/t of the half size>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tablestore/criteria.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile std::size_t g_sink;  // keeps the timed copies alive

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const long first = argc > 1 ? std::atol(argv[1]) : 1;
  const long last = argc > 2 ? std::atol(argv[2]) : 8;
  const int repetitions = argc > 3 ? std::atoi(argv[3]) : 3;
  if (first < 1 || last < first || repetitions < 1) {
    std::fprintf(stderr, "usage: %s [FIRST_MIB [LAST_MIB [REPETITIONS]]]\n", argv[0]);
    return 2;
  }
  // One parse of the longest criteria first: the allocator then serves every size from memory it
  // already holds, so no size pays the first touch of fresh pages that the others do not.
  {
    long longest = first;
    while (longest * 2 <= last) longest *= 2;
    const std::string criteria = "NAME = '" + std::string(static_cast<std::size_t>(longest) << 20, 'a') + "'";
    vx::FreeCriteriaNode(vx::ParseCriteria(criteria.c_str()));
  }
  double previous = 0;
  for (long mib = first; mib <= last; mib *= 2) {
    const std::string criteria = "NAME = '" + std::string(static_cast<std::size_t>(mib) << 20, 'a') + "'";
    std::vector<double> parse_times;
    std::vector<double> copy_times;
    for (int i = 0; i < repetitions; ++i) {
      Clock::time_point start = Clock::now();
      vx::CriteriaNode* tree = vx::ParseCriteria(criteria.c_str());
      parse_times.push_back(Seconds(start));
      if (tree == nullptr || tree->literal == nullptr || std::strlen(tree->literal) != criteria.size() - 7) {
        std::fprintf(stderr, "the criteria did not parse to its literal\n");
        return 1;
      }
      vx::FreeCriteriaNode(tree);
      start = Clock::now();
      std::string copy = criteria;
      g_sink = g_sink + static_cast<std::size_t>(std::count(copy.begin(), copy.end(), '\''));
      copy_times.push_back(Seconds(start));
    }
    const double parse = Median(parse_times);
    const double copy = Median(copy_times);
    std::printf("literal mib=%ld parse_s=%.4f copy_s=%.4f ratio=%.1f doubling=%.2f\n", mib, parse, copy,
                copy > 0 ? parse / copy : 0.0, previous > 0 ? parse / previous : 0.0);
    std::fflush(stdout);
    previous = parse;
  }
  return 0;
}
