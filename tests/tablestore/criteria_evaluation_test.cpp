// Binding criteria to columns and testing rows: every comparable type with its widths and signs, the
// types that never match, NULL values, text literals and AND/OR.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tablestore/criteria.h"
#include "test_log.h"

namespace vx {
namespace {

// A column-definition vector over definitions the object keeps.
class Columns {
 public:
  Columns(std::initializer_list<std::pair<std::string, std::uint8_t>> columns) {
    for (const auto& [name, type] : columns) {
      Add(name, type);
    }
  }
  void Add(const std::string& name, std::uint8_t type) {
    names_.push_back(name);
    types_.push_back(type);
  }
  Vector* vector() {
    definitions_.assign(names_.size(), ColumnDefinition{});
    nodes_.assign(names_.size(), VectorNode{});
    for (std::size_t i = 0; i < names_.size(); ++i) {
      definitions_[i].name = names_[i].data();
      definitions_[i].type = types_[i];
      nodes_[i].data = &definitions_[i];
      nodes_[i].next = i + 1 < names_.size() ? &nodes_[i + 1] : nullptr;
    }
    vector_ = Vector{nodes_.empty() ? nullptr : nodes_.data(), static_cast<std::int32_t>(nodes_.size()),
                     nodes_.empty() ? nullptr : &nodes_.back(), nullptr};
    return &vector_;
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::uint8_t> types_;
  std::vector<ColumnDefinition> definitions_;
  std::vector<VectorNode> nodes_;
  Vector vector_{};
};

template <typename T>
std::string Bytes(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// The row every case is tested against: values in the stored form of their column types.
struct Column {
  const char* name;
  std::uint8_t type;
  std::optional<std::string> value;  // none: NULL
};
const Column kColumns[] = {
    {"I8", kTypeTinyInt, Bytes<std::int32_t>(-56)},
    {"U8", kTypeUnsignedTinyInt, Bytes<std::int32_t>(200)},
    {"I16", kTypeSmallInt, Bytes<std::int32_t>(-25536)},
    {"U16", kTypeUnsignedSmallInt, Bytes<std::int32_t>(40000)},
    {"I32", kTypeInt, Bytes<std::int32_t>(5)},
    {"U32", kTypeUnsignedInt, Bytes<std::uint32_t>(0xFFFFFFFFu)},
    {"I64", kTypeBigInt, Bytes<std::int64_t>(5000000000LL)},
    {"U64", kTypeUnsignedBigInt, Bytes<std::uint64_t>(5)},
    {"F", kTypeFloat, Bytes<float>(1.5f)},
    {"D", kTypeDouble, Bytes<double>(1.5)},
    {"R", kTypeReal, Bytes<float>(1.5f)},
    {"C14", kTypeSqlChar, std::string("RESOURCE_ID")},
    {"C15", kTypeChar, std::string("resource_id")},
    {"T22", kTypeText, std::string("2")},
    {"E", kTypeText, std::string()},
    {"B", kTypeBoolean, std::string(1, '\1')},
    {"DT", kTypeDateTime, std::string("2021-03-04 05:06:07")},
    {"DEC", kTypeDecimal, std::string("5")},
    {"N32", kTypeInt, std::nullopt},
    {"NT", kTypeText, std::nullopt},
    {"X8", kTypeTinyInt, Bytes<std::int32_t>(200)},  // out of range, as loaded from XML
};

class CriteriaRow : public testing::Test {
 protected:
  CriteriaRow() {
    for (const Column& column : kColumns) {
      columns_.Add(column.name, column.type);
      storage_.push_back(column.value.value_or(std::string()));
    }
    // The row holds exactly its values: a read past them is a heap overflow under ASan.
    values_.reserve(std::size(kColumns));
    lengths_.reserve(std::size(kColumns));
    for (std::size_t i = 0; i < std::size(kColumns); ++i) {
      values_.push_back(kColumns[i].value ? storage_[i].data() : nullptr);
      lengths_.push_back(kColumns[i].value ? static_cast<std::int32_t>(storage_[i].size()) : 0);
    }
    row_ = RowObject{values_.data(), lengths_.data(), kRowNew, nullptr};
    columns_.Add("LATE", kTypeInt);  // added to the definition after the row was made
  }

  // -1 when the criteria does not parse.
  int Evaluate(const std::string& criteria) {
    CriteriaNode* tree = ParseCriteria(criteria.c_str());
    if (tree == nullptr) {
      return -1;
    }
    EXPECT_EQ(BindCriteria(columns_.vector(), static_cast<std::int32_t>(std::size(kColumns)), tree), 1);
    const int result = EvaluateCriteria(&row_, tree);
    FreeCriteriaNode(tree);
    return result;
  }

  Columns columns_{};
  std::vector<std::string> storage_;
  std::vector<char*> values_;
  std::vector<std::int32_t> lengths_;
  RowObject row_{};
};

struct EvaluationCase {
  const char* criteria;
  int expected;
};

void PrintTo(const EvaluationCase& c, std::ostream* out) { *out << '"' << c.criteria << '"'; }

class CriteriaEvaluation : public CriteriaRow, public testing::WithParamInterface<EvaluationCase> {};

TEST_P(CriteriaEvaluation, MatchesTheRow) {
  EXPECT_EQ(Evaluate(GetParam().criteria), GetParam().expected) << GetParam().criteria;
}

const EvaluationCase kCases[] = {
    // Narrow literals are widened by the type's sign: 200 is -56 as a TINYINT, 40000 is -25536 as a
    // SMALLINT.
    {"I8 = 200", 1},
    {"I8 < 1", 1},
    {"I8 > 1", 0},
    {"U8 = 200", 1},
    {"U8 > 199", 1},
    {"I16 = 40000", 1},
    {"I16 < 0", 1},
    {"U16 = 40000", 1},
    {"U16 >= 40001", 0},
    {"X8 = 200", 0},  // the literal is -56
    // Every operator on a signed INT.
    {"I32 = 5", 1},
    {"I32 != 5", 0},
    {"I32 >= 5", 1},
    {"I32 <= 5", 1},
    {"I32 > 4", 1},
    {"I32 < 5", 0},
    {"I32 > 5", 0},
    {"I32 = 4294967301", 1},  // the literal wraps to 5
    {"I32 = '5'", 0},         // a quoted number reads as 0
    // Value first: never mirrored.
    {"5 <= I32", 1},
    {"4 < I32", 0},
    {"6 > I32", 0},
    {"U32 > 1", 1},
    {"U32 = 4294967295", 1},
    {"I64 = 5000000000", 1},
    {"I64 > 4294967296", 1},
    {"I64 < 1", 0},
    {"F = 1.5", 1},
    {"F < 1.6", 1},
    {"F > 1.49", 1},
    {"F != 1.5", 0},
    // Types that are never compared.
    {"U64 = 5", 0},
    {"U64 != 5", 0},
    {"D = 1.5", 0},
    {"R = 1.5", 0},
    {"DEC = 5", 0},
    {"B = 'TRUE'", 0},
    {"B != 'TRUE'", 0},
    {"DT = '2021-03-04 05:06:07'", 0},
    {"nosuch = 1", 0},
    {"nosuch != 1", 0},
    // Text: byte-wise and case-sensitive, the literal's first and last characters dropped.
    {"C14 = 'RESOURCE_ID'", 1},
    {"C15 = 'RESOURCE_ID'", 0},
    {"C14 < 'RESOURCE_IE'", 1},
    {"C14 > 'R'", 1},
    {"C14 != 'x'", 1},
    {"T22 = 123", 1},
    {"T22 = 2", 0},
    {"E = 5", 1},
    // NULL is less than every literal, text or number.
    {"NT < ''", 1},
    {"NT = 'a'", 0},
    {"NT != 'a'", 1},
    {"NT > 'a'", 0},
    {"N32 < 0", 1},
    {"N32 <= 0", 1},
    {"N32 = 0", 0},
    {"N32 >= 0", 0},
    {"N32 != 0", 1},
    // Column names bind without regard to case.
    {"i32 = 5 and c14 = 'RESOURCE_ID'", 1},
    {"I32 = 4 and C14 = 'RESOURCE_ID'", 0},
    {"I32 = 4 or C14 = 'RESOURCE_ID'", 1},
    {"I32 = 4 or C14 = 'x'", 0},
    {"I32 = 4 or C14 = 'x' or F = 1.5", 1},
    {"(I32 = 4 or F = 1.5) and U8 = 200", 1},
    {"I32 = 4 or F = 1.5 and U8 = 201", 0},
    // A column the row does not have never matches.
    {"LATE = 0", 0},
    {"LATE != 1 or I32 = 4", 0},
};
INSTANTIATE_TEST_SUITE_P(Types, CriteriaEvaluation, testing::ValuesIn(kCases));

TEST_F(CriteriaRow, NullTreeIsSatisfied) { EXPECT_EQ(EvaluateCriteria(&row_, nullptr), 1); }

TEST_F(CriteriaRow, BothChildrenOfAnAndAreEvaluated) {
  test::ScopedTestLog log(4);
  EXPECT_EQ(Evaluate("I32 = 4 and DT = '2021-03-04'"), 0);
  EXPECT_TRUE(log.Has("[TRACE]", "Inside ConvertStringToQelDateTime "));
}

TEST_F(CriteriaRow, DeepTreesBindAndEvaluateWithoutRecursion) {
  std::string criteria;
  for (int i = 0; i < 4000; ++i) {
    criteria += "I32 = 5 and ";
  }
  EXPECT_EQ(Evaluate(criteria + "I32 = 5"), 1);
  EXPECT_EQ(Evaluate(criteria + "I32 = 4"), 0);
}

TEST(CriteriaBinding, SetsPositionAndTypeOfTheFirstMatchingColumn) {
  Columns columns{{"ID", kTypeInt}, {"Name", kTypeText}, {"name", kTypeSqlChar}};
  CriteriaNode* tree = ParseCriteria("NAME = 'x' or missing = 1");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(BindCriteria(columns.vector(), 3, tree), 1);
  EXPECT_EQ(tree->left->column_index, 1);
  EXPECT_EQ(tree->left->column_type, kTypeText);
  EXPECT_EQ(tree->right->column_index, 0);
  EXPECT_EQ(tree->right->column_type, kTypeNotSupported);
  EXPECT_EQ(tree->column_index, 0);
  EXPECT_EQ(tree->column_type, kTypeNotSupported);
  FreeCriteriaNode(tree);
}

TEST(CriteriaBinding, PositionsBeyond256AreBoundWhole) {
  Columns columns{};
  for (int i = 0; i < 300; ++i) {
    columns.Add("C" + std::to_string(i), i == 260 ? kTypeInt : kTypeText);
  }
  CriteriaNode* tree = ParseCriteria("C260 = 1");
  ASSERT_NE(tree, nullptr);
  BindCriteria(columns.vector(), 300, tree);
  EXPECT_EQ(tree->column_index, 260);
  EXPECT_EQ(tree->column_type, kTypeInt);
  FreeCriteriaNode(tree);
}

}  // namespace
}  // namespace vx
