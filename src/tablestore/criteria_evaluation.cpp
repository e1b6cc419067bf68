// Binding a criteria tree to a table's columns and testing rows against it. Both walk the tree with
// an explicit stack rather than recursion: a parsed tree can be thousands of levels deep.
#include <cstdlib>
#include <cstring>

#include "tablestore/criteria.h"
#include "tablestore/value_compare.h"

namespace vx {
namespace {

// A stack that lives on the machine stack while it is shallow and moves to the heap when it grows.
template <typename T>
class WalkStack {
 public:
  WalkStack() = default;
  WalkStack(const WalkStack&) = delete;
  WalkStack& operator=(const WalkStack&) = delete;
  ~WalkStack() {
    if (items_ != inline_items_) {
      std::free(items_);
    }
  }

  [[nodiscard]] bool Push(const T& item) {
    if (count_ == capacity_ && !Grow()) {
      return false;
    }
    items_[count_++] = item;
    return true;
  }
  T& Top() { return items_[count_ - 1]; }
  void Pop() { --count_; }
  [[nodiscard]] bool Empty() const { return count_ == 0; }

 private:
  bool Grow() {
    const std::size_t capacity = capacity_ * 2;
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the stack holds pointers; sizeof(T) is one item.
    T* grown = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (grown == nullptr) {
      return false;
    }
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the stack holds pointers; sizeof(T) is one item.
    std::memcpy(static_cast<void*>(grown), items_, count_ * sizeof(T));
    if (items_ != inline_items_) {
      std::free(items_);
    }
    items_ = grown;
    capacity_ = capacity;
    return true;
  }

  static constexpr std::size_t kInlineCount = 32;
  T inline_items_[kInlineCount];
  T* items_ = inline_items_;
  std::size_t count_ = 0;
  std::size_t capacity_ = kInlineCount;
};

void BindNode(const Vector* columns, std::int32_t column_count, CriteriaNode* node) {
  if (node->column_name == nullptr) {
    return;  // AND and OR nodes keep index 0 and type 0
  }
  // Only the positions the rows hold: a column added to the definition after the table was created
  // is not in its rows, and stays unbound (type 0, never satisfied).
  std::int32_t position = 0;
  for (const VectorNode* element = columns != nullptr ? columns->head : nullptr;
       element != nullptr && position < column_count; element = element->next, ++position) {
    const auto* column = static_cast<const ColumnDefinition*>(element->data);
    if (column != nullptr && CompareStringsNoCase(column->name, node->column_name) == 0) {
      node->column_index = position;
      node->column_type = column->type;
      return;
    }
  }
}

int EvaluateComparison(const RowObject* row, const CriteriaNode* node) {
  if (node->column_type == kTypeNotSupported) {
    return 0;  // an unbound column: never satisfied, and its index is no position of the row
  }
  const char* value = nullptr;
  std::int32_t value_length = 0;
  if (row != nullptr && row->values != nullptr) {
    value = row->values[node->column_index];
    value_length = row->lengths != nullptr ? row->lengths[node->column_index] : 0;
  }
  std::int32_t literal_length = static_cast<std::int32_t>(std::strlen(node->literal));
  // Numbers and texts convert without side effects: a number is converted into a local buffer and
  // the text's conversion is a plain copy of the literal, so both are compared without allocating.
  char number[8];
  const std::int32_t number_length = ConvertNumberInto(node->literal, literal_length, node->column_type, number);
  if (number_length >= 0) {
    return CompareByType(value, value_length, number, number_length, node->op, node->column_type);
  }
  if (node->column_type == kTypeSqlChar || node->column_type == kTypeChar || node->column_type == kTypeText) {
    return CompareByType(value, value_length, node->literal, literal_length, node->op, node->column_type);
  }
  char* literal = ConvertToTypedValue(node->literal, &literal_length, node->column_type);
  const int result = CompareByType(value, value_length, literal, literal_length, node->op, node->column_type);
  FreeTypedValue(literal, node->column_type);
  return result;
}

int EvaluateNode(const RowObject* row, const CriteriaNode* node, int left, int right) {
  if (node->column_name == nullptr || node->literal == nullptr) {
    if (node->op == kOpAnd) {
      return left == 1 && right == 1 ? 1 : 0;
    }
    if (node->op == kOpOr) {
      return left == 1 || right == 1 ? 1 : 0;
    }
    return 0;
  }
  return EvaluateComparison(row, node);
}

}  // namespace

int BindCriteria(const Vector* columns, std::int32_t column_count, CriteriaNode* tree) {
  // In order: the left subtree, the node, the right subtree.
  WalkStack<CriteriaNode*> pending;
  CriteriaNode* node = tree;
  while (node != nullptr || !pending.Empty()) {
    if (node != nullptr) {
      if (!pending.Push(node)) {
        break;  // out of memory: the nodes not reached keep type 0 and never match
      }
      node = node->left;
      continue;
    }
    node = pending.Top();
    pending.Pop();
    BindNode(columns, column_count, node);
    node = node->right;
  }
  return 1;
}

int EvaluateCriteria(const RowObject* row, const CriteriaNode* tree) {
  if (tree == nullptr) {
    return 1;
  }
  // Post-order: both subtrees are always evaluated, left first, before the node itself.
  struct Frame {
    const CriteriaNode* node;
    std::uint8_t stage;  // 0: left next, 1: right next, 2: both done
    int left;
  };
  WalkStack<Frame> frames;
  if (!frames.Push({tree, 0, 0})) {
    return 0;
  }
  int returned = 0;  // the result of the subtree evaluated last
  for (;;) {
    Frame& frame = frames.Top();
    if (frame.stage == 0) {
      frame.stage = 1;
      if (frame.node->left != nullptr) {
        if (!frames.Push({frame.node->left, 0, 0})) {
          return 0;
        }
        continue;
      }
      returned = 1;  // an absent subtree is satisfied
    }
    if (frame.stage == 1) {
      frame.left = returned;
      frame.stage = 2;
      if (frame.node->right != nullptr) {
        if (!frames.Push({frame.node->right, 0, 0})) {
          return 0;
        }
        continue;
      }
      returned = 1;
    }
    returned = EvaluateNode(row, frame.node, frame.left, returned);
    frames.Pop();
    if (frames.Empty()) {
      return returned;
    }
  }
}

}  // namespace vx
