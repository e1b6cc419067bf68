// Selections with criteria: SelectRows with three comparisons over the rows of a defined table (rows
// per second), beside a plain loop that tests the same three conditions on the stored values (the
// floor of any criteria engine); and the cost of parsing the criteria once against evaluating it
// over 10,000 rows, measured alternately in one run. Each figure is the median of the repetitions.
//
// Usage: vxbench_select_rows [ROWS [REPETITIONS]]   (defaults: 100000 rows, 7 repetitions)
// Prints:
//   select rows=<n> matched=<n> select_rows_per_s=<x> loop_rows_per_s=<y> ratio=<x/y>
//   parse_vs_evaluation rows=<n> parse_us=<t> evaluation_us=<t> ratio=<parse/evaluation>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tablestore/containers.h"
#include "tablestore/criteria.h"
#include "tablestore/table_data.h"

namespace {

constexpr const char* kTableName = "BenchItems";
constexpr const char* kCriteria = "ID >= 1000 and SCORE < 500.5 and CATEGORY != 'C'";
constexpr int kEvaluationRows = 10000;

using Clock = std::chrono::steady_clock;

volatile long g_sink;  // keeps the timed loops' results alive

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

char* NewValue(const void* bytes, std::size_t size) {
  char* value = static_cast<char*>(std::calloc(size + 1, 1));
  if (value == nullptr) std::abort();
  std::memcpy(value, bytes, size);
  return value;
}

// ID (INT), NAME (TEXT), SCORE (FLOAT), CATEGORY (CHAR), added with AddNewRow.
vx::TableData* MakeTable(int row_count) {
  if (vx::DefineTable(
          kTableName,
          {{"ID", vx::kTypeInt}, {"NAME", vx::kTypeText}, {"SCORE", vx::kTypeFloat}, {"CATEGORY", vx::kTypeSqlChar}}) ==
          nullptr ||
      vx::CreateTable(kTableName) != 1) {
    std::abort();
  }
  vx::TableData* table = vx::GetTableDataByName(kTableName);
  for (int i = 0; i < row_count; ++i) {
    auto** values = static_cast<char**>(std::calloc(4, sizeof(char*)));
    auto* lengths = static_cast<std::int32_t*>(std::calloc(4, sizeof(std::int32_t)));
    if (values == nullptr || lengths == nullptr) std::abort();
    const std::int32_t id = i;
    const std::string name = "item" + std::to_string(i);
    const float score = static_cast<float>(i % 1000) + 0.5f;
    const char category[] = {static_cast<char>('A' + i % 3)};
    values[0] = NewValue(&id, sizeof id);
    lengths[0] = sizeof id;
    values[1] = NewValue(name.data(), name.size());
    lengths[1] = static_cast<std::int32_t>(name.size());
    values[2] = NewValue(&score, sizeof score);
    lengths[2] = sizeof score;
    values[3] = NewValue(category, 1);
    lengths[3] = 1;
    vx::RowObject* row = vx::CreateNewRowObject(values, lengths);
    if (row == nullptr || vx::AddNewRow(kTableName, row) != 1) std::abort();
  }
  return table;
}

// The same three conditions, written out on the stored values.
int PlainLoop(const vx::TableData* table) {
  int matched = 0;
  for (const vx::RowObject* row = table->first_row; row != nullptr; row = row->next) {
    std::int32_t id;
    float score;
    std::memcpy(&id, row->values[0], sizeof id);
    std::memcpy(&score, row->values[2], sizeof score);
    if (id >= 1000 && score < 500.5f && std::strcmp(row->values[3], "C") != 0) ++matched;
  }
  return matched;
}

}  // namespace

int main(int argc, char** argv) {
  const int row_count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
  if (row_count < kEvaluationRows || repetitions < 1) {
    std::fprintf(stderr, "usage: vxbench_select_rows [ROWS>=%d [REPETITIONS]]\n", kEvaluationRows);
    return 2;
  }
  vx::TableData* table = MakeTable(row_count);

  std::vector<double> select_times;
  std::vector<double> loop_times;
  std::vector<double> parse_times;
  std::vector<double> evaluation_times;
  int matched = 0;
  int loop_matched = 0;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    Clock::time_point start = Clock::now();
    vx::ResultData* result = vx::SelectRows(kTableName, kCriteria);
    select_times.push_back(Seconds(start));
    if (result == nullptr) {
      std::fprintf(stderr, "SelectRows failed\n");
      return 1;
    }
    matched = result->row_count;
    vx::FreeResultData(result);

    start = Clock::now();
    loop_matched = PlainLoop(table);
    loop_times.push_back(Seconds(start));

    // One parse is a few microseconds: time a batch of them.
    constexpr int kParses = 2000;
    start = Clock::now();
    for (int i = 0; i < kParses; ++i) {
      vx::CriteriaNode* tree = vx::ParseCriteria(kCriteria);
      g_sink = g_sink + (tree != nullptr ? tree->op : 0);
      vx::FreeCriteriaNode(tree);
    }
    parse_times.push_back(Seconds(start) / kParses);

    vx::CriteriaNode* tree = vx::ParseCriteria(kCriteria);
    start = Clock::now();
    vx::BindCriteria(&table->definition->columns, table->column_count, tree);
    int evaluated = 0;
    for (const vx::RowObject* row = table->first_row; evaluated < kEvaluationRows; row = row->next, ++evaluated) {
      g_sink = g_sink + vx::EvaluateCriteria(row, tree);
    }
    evaluation_times.push_back(Seconds(start));
    vx::FreeCriteriaNode(tree);
  }
  if (matched != loop_matched) {
    std::fprintf(stderr, "SelectRows matched %d rows, the plain loop %d\n", matched, loop_matched);
    return 1;
  }
  const double select_rate = row_count / Median(select_times);
  const double loop_rate = row_count / Median(loop_times);
  const double parse = Median(parse_times);
  const double evaluation = Median(evaluation_times);
  std::printf("select rows=%d matched=%d select_rows_per_s=%.0f loop_rows_per_s=%.0f ratio=%.3f\n", row_count, matched,
              select_rate, loop_rate, select_rate / loop_rate);
  std::printf("parse_vs_evaluation rows=%d parse_us=%.2f evaluation_us=%.1f ratio=%.5f\n", kEvaluationRows, parse * 1e6,
              evaluation * 1e6, parse / evaluation);
  return 0;
}
