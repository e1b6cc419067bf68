// Parsing criteria texts: the state the generated parser and scanner share, the node builders their
// actions call, and the release of criteria trees.
//
// Every string and node made during a parse is recorded until it belongs to the tree that the parse
// returns. What a parse leaves over (the trees of earlier lines, everything of a failed parse) is
// freed before ParseCriteria returns, so no path leaks, and the error routine never frees a node that
// the parser may still combine: it gives the whole parse up instead.
#include "tablestore/criteria.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "logging/logger.h"
#include "tablestore/criteria_parse.h"

namespace vx {
namespace {

// A growable list of pointers in malloc'd storage, kept between parses.
class PointerList {
 public:
  [[nodiscard]] bool Push(void* pointer) {
    if (count_ == capacity_) {
      const std::size_t capacity = capacity_ == 0 ? 32 : capacity_ * 2;
      void* grown = std::realloc(items_, capacity * sizeof(void*));
      if (grown == nullptr) {
        return false;
      }
      items_ = static_cast<void**>(grown);
      capacity_ = capacity;
    }
    items_[count_++] = pointer;
    return true;
  }

  // Removes one entry equal to pointer; the entries wanted are nearly always the last ones.
  void Remove(const void* pointer) {
    for (std::size_t i = count_; i > 0; --i) {
      if (items_[i - 1] == pointer) {
        std::memmove(&items_[i - 1], &items_[i], (count_ - i) * sizeof(void*));
        --count_;
        return;
      }
    }
  }

  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] void* at(std::size_t index) const { return items_[index]; }
  void Clear() { count_ = 0; }

 private:
  void** items_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

struct ParserState {
  CriteriaNode* last_node = nullptr;
  bool failed = false;      // the error routine ran or memory ran out
  PointerList loose_nodes;  // nodes built in this parse that have no parent yet
  PointerList loose_texts;  // token texts not yet taken over by a node
};

ParserState g_parser;

void FailParse() {
  g_parser.failed = true;
  g_parser.last_node = nullptr;
}

}  // namespace

const void* ParserLockKey() { return &g_parser; }

char* CriteriaTokenText(const char* text, int length) {
  char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
  if (copy == nullptr) {
    FailParse();
    return nullptr;
  }
  std::memcpy(copy, text, static_cast<std::size_t>(length));
  copy[length] = '\0';
  if (!g_parser.loose_texts.Push(copy)) {
    std::free(copy);
    FailParse();
    return nullptr;
  }
  return copy;
}

CriteriaNode* CriteriaBuildComparison(char* column_name, std::uint8_t op, char* literal) {
  auto* node = static_cast<CriteriaNode*>(std::calloc(1, sizeof(CriteriaNode)));
  if (node == nullptr) {
    FailParse();  // the texts stay recorded and are freed with the parse
    return nullptr;
  }
  g_parser.loose_texts.Remove(column_name);
  g_parser.loose_texts.Remove(literal);
  node->column_name = column_name;
  node->literal = literal;
  node->op = op;
  if (!g_parser.loose_nodes.Push(node)) {
    FreeCriteriaNode(node);
    FailParse();
    return nullptr;
  }
  g_parser.last_node = node;
  return node;
}

CriteriaNode* CriteriaBuildJunction(std::uint8_t op, CriteriaNode* left, CriteriaNode* right) {
  auto* node = static_cast<CriteriaNode*>(std::calloc(1, sizeof(CriteriaNode)));
  if (node == nullptr) {
    FailParse();
    return nullptr;
  }
  node->op = op;
  node->left = left;
  node->right = right;
  for (CriteriaNode* child : {left, right}) {
    if (child != nullptr) {
      child->parent = node;
      g_parser.loose_nodes.Remove(child);
    }
  }
  if (!g_parser.loose_nodes.Push(node)) {
    FreeCriteriaNode(node);
    FailParse();
    return nullptr;
  }
  g_parser.last_node = node;
  return node;
}

void CriteriaParseError(const char* /*message*/) {
  // The node built last may still sit on the parser's value stack and be combined later, so it is
  // not freed here: the parse is given up and every node it built is freed when it ends.
  FailParse();
}

namespace {

ScopedCriteriaScannerAllocator::Allocate g_scanner_allocate = std::malloc;
ScopedCriteriaScannerAllocator::Reallocate g_scanner_reallocate = std::realloc;

// The text parsed: the criteria, the line feed that ends its last line, and the scanner's two
// end-of-buffer zero bytes. flex counts a buffer's size in an int.
constexpr std::size_t kTextOverhead = 3;
constexpr std::size_t kLongestCriteria = static_cast<std::size_t>(INT_MAX) - kTextOverhead;

}  // namespace

ScopedCriteriaScannerAllocator::ScopedCriteriaScannerAllocator(Allocate allocate, Reallocate reallocate)
    : previous_allocate_(g_scanner_allocate), previous_reallocate_(g_scanner_reallocate) {
  g_scanner_allocate = allocate;
  g_scanner_reallocate = reallocate;
}

ScopedCriteriaScannerAllocator::~ScopedCriteriaScannerAllocator() {
  g_scanner_allocate = previous_allocate_;
  g_scanner_reallocate = previous_reallocate_;
}

void* CriteriaScannerAllocate(std::size_t size) { return g_scanner_allocate(size); }
void* CriteriaScannerReallocate(void* block, std::size_t size) {
  void* grown = g_scanner_reallocate(block, size);
  // The scanner stores the result over its only pointer to the block and then fails: the block
  // would be lost.
  if (grown == nullptr && size > 0) std::free(block);
  return grown;
}

void CriteriaScannerFailed(const char* message) { throw CriteriaScannerFailure{message}; }

CriteriaNode* ParseCriteria(const char* criteria) {
  if (criteria == nullptr) {
    return nullptr;
  }
  const std::size_t length = std::strlen(criteria);
  if (length > kLongestCriteria) {
    LogError("ParseCriteria : criteria of %zu characters is too long\n", length);
    return nullptr;
  }
  // The parser reads lines: the text is parsed with a line feed after it.
  char* text = static_cast<char*>(std::malloc(length + kTextOverhead));
  if (text == nullptr) {
    return nullptr;
  }
  std::memcpy(text, criteria, length);
  text[length] = '\n';
  text[length + 1] = '\0';
  text[length + 2] = '\0';

  g_parser.last_node = nullptr;
  g_parser.failed = false;

  int status = 1;
  try {
    if (CriteriaScanText(text, length + kTextOverhead)) {
      status = criteria_yyparse();
    }
  } catch (const CriteriaScannerFailure& failure) {
    LogError("ParseCriteria : scanner failure: %s\n", failure.message);
    FailParse();
  }
  CriteriaEndScan();
  CriteriaNode* result = (status == 0 && !g_parser.failed) ? g_parser.last_node : nullptr;

  // Free what the result does not hold: the trees of earlier lines, or all of a failed parse.
  for (std::size_t i = 0; i < g_parser.loose_nodes.size(); ++i) {
    auto* node = static_cast<CriteriaNode*>(g_parser.loose_nodes.at(i));
    if (node != result) {
      FreeCriteriaNode(node);
    }
  }
  for (std::size_t i = 0; i < g_parser.loose_texts.size(); ++i) {
    std::free(g_parser.loose_texts.at(i));
  }
  g_parser.loose_nodes.Clear();
  g_parser.loose_texts.Clear();
  g_parser.last_node = nullptr;
  std::free(text);
  return result;
}

void FreeCriteriaNode(CriteriaNode* node) {
  // Without recursion, so that a tree of any depth is freed in constant stack: a node with a left
  // child is rotated to the right until it has none, then freed, and its right subtree follows.
  while (node != nullptr) {
    if (node->left != nullptr) {
      CriteriaNode* left = node->left;
      node->left = left->right;
      left->right = node;
      node = left;
    } else {
      CriteriaNode* right = node->right;
      std::free(node->column_name);
      std::free(node->literal);
      std::free(node);
      node = right;
    }
  }
}

}  // namespace vx
