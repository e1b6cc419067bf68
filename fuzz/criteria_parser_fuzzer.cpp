// libFuzzer target: any text given to ParseCriteria gives null or a well-formed tree (comparisons
// with a column name and a literal, AND/OR nodes with two children that point back at them), which
// then binds, evaluates against a row and frees without touching memory it does not own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tablestore/criteria.h"

namespace {

void CheckTree(const vx::CriteriaNode* root) {
  std::vector<const vx::CriteriaNode*> pending{root};
  while (!pending.empty()) {
    const vx::CriteriaNode* node = pending.back();
    pending.pop_back();
    const bool comparison = node->column_name != nullptr;
    if (comparison != (node->literal != nullptr) || comparison != (node->left == nullptr) ||
        comparison != (node->right == nullptr) ||
        (comparison ? node->op < 1 || node->op > 6 : node->op < 7 || node->op > 8)) {
      std::abort();
    }
    if (!comparison) {
      if (node->left->parent != node || node->right->parent != node) {
        std::abort();
      }
      pending.push_back(node->left);
      pending.push_back(node->right);
    }
  }
}

// A column of each comparable type and some that never compare, with values in their stored forms.
struct FuzzTable {
  FuzzTable() {
    const char* const names[] = {"a", "b", "c", "d", "e", "f", "g", "x", "y", "t"};
    const std::uint8_t types[] = {1, 2, 3, 4, 5, 6, 7, 9, 14, 18};
    for (std::size_t i = 0; i < std::size(names); ++i) {
      definitions[i].name = const_cast<char*>(names[i]);
      definitions[i].type = types[i];
      nodes[i].data = &definitions[i];
      nodes[i].next = i + 1 < std::size(names) ? &nodes[i + 1] : nullptr;
    }
    columns = vx::Vector{nodes, static_cast<std::int32_t>(std::size(names)), &nodes[std::size(names) - 1], nullptr};
    for (std::size_t i = 0; i < 7; ++i) {
      std::memcpy(storage[i], "\x05\0\0\0\0\0\0\0", 8);
      values[i] = storage[i];
      lengths[i] = i == 6 ? 8 : 4;
    }
    const float one_and_a_half = 1.5f;
    std::memcpy(storage[7], &one_and_a_half, sizeof one_and_a_half);
    values[7] = storage[7];
    lengths[7] = 4;
    values[8] = const_cast<char*>("RESOURCE_ID");
    lengths[8] = 11;
    values[9] = nullptr;
    row = vx::RowObject{values, lengths, 2, nullptr};
  }
  vx::ColumnDefinition definitions[10]{};
  vx::VectorNode nodes[10]{};
  vx::Vector columns{};
  char storage[8][9]{};
  char* values[10]{};
  std::int32_t lengths[10]{};
  vx::RowObject row{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzTable table;
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at the first zero byte
  vx::CriteriaNode* tree = vx::ParseCriteria(text.c_str());
  if (tree != nullptr) {
    CheckTree(tree);
    vx::BindCriteria(&table.columns, table.columns.count, tree);
    vx::EvaluateCriteria(&table.row, tree);
    vx::FreeCriteriaNode(tree);
  }
  return 0;
}
