// Parsing criteria texts into trees: the language's tokens and grammar, its failures, the parser's
// stack limit and the input the scanner keeps between parses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "logging/address_lock.h"
#include "tablestore/criteria.h"
#include "test_log.h"

namespace vx {
namespace {

const char* OperatorText(std::uint8_t op) {
  static const char* const kTexts[] = {"?", "<", ">", "<=", ">=", "=", "!=", "and", "or"};
  return op < std::size(kTexts) ? kTexts[op] : "?";
}

// "column op literal" for a comparison, "(left and right)" for a junction. Checks the parent links
// on the way, without recursion (the trees of some cases are thousands of levels deep).
std::string Render(const CriteriaNode* root) {
  std::string out;
  struct Item {
    const CriteriaNode* node;
    const char* text;  // emitted instead of a node when set
  };
  std::vector<Item> pending{{root, nullptr}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    if (item.text != nullptr) {
      out += item.text;
      continue;
    }
    const CriteriaNode* node = item.node;
    if (node->column_name != nullptr) {
      EXPECT_EQ(node->left, nullptr);
      EXPECT_EQ(node->right, nullptr);
      out += std::string(node->column_name) + " " + OperatorText(node->op) + " " + node->literal;
      continue;
    }
    EXPECT_EQ(node->literal, nullptr);
    EXPECT_EQ(node->left->parent, node);
    EXPECT_EQ(node->right->parent, node);
    pending.push_back({nullptr, ")"});
    pending.push_back({node->right, nullptr});
    pending.push_back({nullptr, node->op == kOpAnd ? " and " : node->op == kOpOr ? " or " : " ? "});
    pending.push_back({node->left, nullptr});
    pending.push_back({nullptr, "("});
  }
  return out;
}

// The rendered tree, or none when the parse gives null. Frees the tree.
std::optional<std::string> Parse(const char* criteria) {
  CriteriaNode* tree = ParseCriteria(criteria);
  if (tree == nullptr) {
    return std::nullopt;
  }
  EXPECT_EQ(tree->parent, nullptr);
  std::string rendered = Render(tree);
  FreeCriteriaNode(tree);
  return rendered;
}

struct ParseCase {
  const char* criteria;
  std::optional<std::string> expected;  // none: the parse gives null
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << '"' << c.criteria << '"'; }

class CriteriaParse : public testing::TestWithParam<ParseCase> {};

TEST_P(CriteriaParse, BuildsTheExpectedTree) {
  EXPECT_EQ(Parse(GetParam().criteria), GetParam().expected) << "criteria: \"" << GetParam().criteria << "\"";
}

const ParseCase kWellFormed[] = {
    {"PARAM_NAME='RESOURCE_ID'", "PARAM_NAME = 'RESOURCE_ID'"},
    {"x != 3", "x != 3"},
    {"x<=3", "x <= 3"},
    {"x>=3", "x >= 3"},
    {"x<3", "x < 3"},
    {"x>3", "x > 3"},
    {"(x=1)", "x = 1"},
    {"((((x=1))))", "x = 1"},
    // Value first: the operator is not mirrored.
    {"3 >= x", "x >= 3"},
    {"5 < AGE", "AGE < 5"},
    {"'a' != name", "name != 'a'"},
    {"x = 1.5", "x = 1.5"},
    {"x1_y = 007", "x1_y = 007"},
    {"x = ' !\"#$%&()*+,-./09:<=>?@AZ[\\]^_`az{|}~'", "x = ' !\"#$%&()*+,-./09:<=>?@AZ[\\]^_`az{|}~'"},
    {"x = ''", "x = ''"},
    {" \t x \t = \t 1 \t ", "x = 1"},
    // Keywords are lower case only; other spellings are identifiers.
    {"A = 1 and B = 2", "(A = 1 and B = 2)"},
    {"AND = 1", "AND = 1"},
    {"And = 1 or Or = 2", "(And = 1 or Or = 2)"},
    {"andx = 1", "andx = 1"},
    // AND and OR bind equally and group to the right.
    {"a=1 and b=2 or c=3", "(a = 1 and (b = 2 or c = 3))"},
    {"a=1 or b=2 and c=3", "(a = 1 or (b = 2 and c = 3))"},
    {"a=1 and b=2 and c=3", "(a = 1 and (b = 2 and c = 3))"},
    {"(a=1 and b=2) or c=3", "((a = 1 and b = 2) or c = 3)"},
    {"(a=1 or (b=2)) and (c=3)", "((a = 1 or b = 2) and c = 3)"},
    // Each line is a complete expression; the result is the last line's tree.
    {"a=1\nb=2 and c=3", "(b = 2 and c = 3)"},
    {"a=1 and b=2\nc=3", "c = 3"},
};
INSTANTIATE_TEST_SUITE_P(WellFormed, CriteriaParse, testing::ValuesIn(kWellFormed));

const ParseCase kRejected[] = {
    {"", std::nullopt},  // a lone line feed is no line
    {"   ", std::nullopt},
    {"a=1\n", std::nullopt},  // the added line feed makes an empty line
    {"a=1\n\nb=2", std::nullopt},
    {"A = 1 AND B = 2", std::nullopt},
    {"x = -1", std::nullopt},  // "-" is an invalid character
    {"x == 1", std::nullopt},
    {"x <> 1", std::nullopt},
    {"x = 1e5", std::nullopt},
    {"x = 1.", std::nullopt},
    {"x = .5", std::nullopt},
    {"a = b", std::nullopt},
    {"1 = 2", std::nullopt},
    {"x = 'a''b'", std::nullopt},  // two values
    {"x = 'ab", std::nullopt},     // an unclosed quote is an invalid character
    {"x = 'a;b'", std::nullopt},
    {"x = 'a\tb'", std::nullopt},
    {"x = '\xC3\xA9'", std::nullopt},
    {"x = 1 and", std::nullopt},
    {"and x = 1", std::nullopt},
    {"x = 1 y = 2", std::nullopt},
    {"()", std::nullopt},
    {"(x=1", std::nullopt},
    {"x=1)", std::nullopt},
    {"_x = 1", std::nullopt},
    // An invalid character after a complete comparison gives up the node built last; before any
    // node, the parse is given up all the same.
    {"x = 1 $", std::nullopt},
    {"x=1 and y=2 # or z=3", std::nullopt},
    {"$x = 1", std::nullopt},
};
INSTANTIATE_TEST_SUITE_P(Rejected, CriteriaParse, testing::ValuesIn(kRejected));

TEST(CriteriaParser, NullTextGivesNull) { EXPECT_EQ(ParseCriteria(nullptr), nullptr); }

TEST(CriteriaParser, ComparisonNodeHoldsCopiesOfTheTokensAndZeroBinding) {
  CriteriaNode* tree = ParseCriteria("PARAM_NAME='RESOURCE_ID'");
  ASSERT_NE(tree, nullptr);
  EXPECT_STREQ(tree->column_name, "PARAM_NAME");
  EXPECT_STREQ(tree->literal, "'RESOURCE_ID'");
  EXPECT_EQ(tree->op, kOpEqual);
  EXPECT_EQ(tree->column_index, 0);
  EXPECT_EQ(tree->column_type, 0);
  EXPECT_EQ(tree->parent, nullptr);
  FreeCriteriaNode(tree);
}

TEST(CriteriaParser, LeftoverInputOfAFailedParseIsDiscarded) {
  // The scanner has the whole line buffered when the parser stops at "b"; "=2" must not be read
  // in front of the next text.
  EXPECT_EQ(Parse("a=1 b=2"), std::nullopt);
  EXPECT_EQ(Parse("c=3"), "c = 3");
  EXPECT_EQ(Parse("x = = 1 and y = 2"), std::nullopt);
  EXPECT_EQ(Parse("z='q'"), "z = 'q'");
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

std::string Nested(int depth) { return Repeat("(", depth) + "x=1" + Repeat(")", depth); }

TEST(CriteriaParser, StackGrowsToTenThousandEntriesAndNoFurther) {
  // Each open parenthesis holds one stack entry until its expression closes.
  EXPECT_EQ(Parse(Nested(9000).c_str()), "x = 1");
  EXPECT_EQ(Parse(Nested(10000).c_str()), std::nullopt);
  EXPECT_EQ(Parse(Nested(200000).c_str()), std::nullopt);
  // The parser is usable again afterwards.
  EXPECT_EQ(Parse(Nested(3).c_str()), "x = 1");
}

TEST(CriteriaParser, LongRightGroupedChainsBuildDeepTreesUpToTheStackLimit) {
  // Right grouping keeps an expression and an operator per clause on the stack.
  CriteriaNode* tree = ParseCriteria((Repeat("x=1 and ", 4500) + "x=1").c_str());
  ASSERT_NE(tree, nullptr);
  int depth = 0;
  for (const CriteriaNode* node = tree; node->right != nullptr; node = node->right) {
    ++depth;
  }
  EXPECT_EQ(depth, 4500);
  FreeCriteriaNode(tree);
  EXPECT_EQ(ParseCriteria((Repeat("x=1 or ", 6000) + "x=1").c_str()), nullptr);
}

TEST(CriteriaParser, LongTokensAndLinesLongerThanTheScannerBuffer) {
  const std::string name(20000, 'n');
  const std::string literal = "'" + std::string(40000, 'v') + "'";
  CriteriaNode* tree = ParseCriteria((name + " = " + literal).c_str());
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->column_name, name);
  EXPECT_EQ(tree->literal, literal);
  FreeCriteriaNode(tree);
}

// Each allocation of the scanner failing in turn: the parse fails with a log line (flex would end the
// process), leaks nothing, and the next parse works.
int g_scanner_allocations_left;
void* FailingAllocate(std::size_t size) { return g_scanner_allocations_left-- > 0 ? std::malloc(size) : nullptr; }
void* FailingReallocate(void* block, std::size_t size) {
  return g_scanner_allocations_left-- > 0 ? std::realloc(block, size) : nullptr;
}

TEST(CriteriaParser, ScannerAllocationFailuresFailTheParse) {
  std::vector<std::string> failures;
  for (int succeeding = 0;; ++succeeding) {
    ASSERT_LT(succeeding, 10);
    test::ScopedTestLog log(2);
    CriteriaNode* tree = nullptr;
    {
      ScopedCriteriaScannerAllocator failing(FailingAllocate, FailingReallocate);
      g_scanner_allocations_left = succeeding;
      tree = ParseCriteria("A = 1 and B = 'x'");
    }
    if (tree != nullptr) {
      FreeCriteriaNode(tree);
      break;
    }
    ASSERT_EQ(log.Messages().size(), 1u);
    failures.push_back(log.Messages()[0]);
    tree = ParseCriteria("C = 2");
    ASSERT_NE(tree, nullptr);
    FreeCriteriaNode(tree);
  }
  EXPECT_EQ(failures, (std::vector<std::string>{
                          "[ERROR] ParseCriteria : scanner failure: out of dynamic memory in yyensure_buffer_stack()",
                          "[ERROR] ParseCriteria : scanner failure: out of dynamic memory in yyensure_buffer_stack()",
                          "[ERROR] ParseCriteria : scanner failure: out of dynamic memory in yy_scan_buffer()",
                      }));
}

TEST(CriteriaParser, FreeCriteriaNodeAcceptsNullAndLeftDeepTrees) {
  FreeCriteriaNode(nullptr);
  // A left-deep tree built by hand, deeper than any recursion would survive.
  CriteriaNode* root = nullptr;
  for (int i = 0; i < 200000; ++i) {
    auto* node = static_cast<CriteriaNode*>(std::calloc(1, sizeof(CriteriaNode)));
    ASSERT_NE(node, nullptr);
    node->op = kOpAnd;
    node->left = root;
    node->right = static_cast<CriteriaNode*>(std::calloc(1, sizeof(CriteriaNode)));
    node->right->column_name = static_cast<char*>(std::calloc(2, 1));
    root = node;
  }
  FreeCriteriaNode(root);
}

TEST(CriteriaParser, ParsesFromSeveralThreadsUnderTheParserLock) {
  // Failed parses leave input behind in the scanner; every parse must still see only its own text.
  auto worker = [](const char* good, const char* bad, const char* expected, int* mismatches) {
    for (int i = 0; i < 300; ++i) {
      AddressLockGuard lock(ParserLockKey());
      if (Parse(bad) != std::nullopt || Parse(good) != expected) {
        ++*mismatches;
      }
    }
  };
  int mismatches[2] = {0, 0};
  std::thread first(worker, "a=1 and b='x'", "a=1 b=2", "(a = 1 and b = 'x')", &mismatches[0]);
  std::thread second(worker, "3 > c or d != 4", "(c=3 or", "(c > 3 or d != 4)", &mismatches[1]);
  first.join();
  second.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

}  // namespace
}  // namespace vx
