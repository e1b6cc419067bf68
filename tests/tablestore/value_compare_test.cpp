// Literal conversion, typed comparison and the text and number readers the store shares.
#include "tablestore/value_compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "tablestore/criteria.h"
#include "tablestore/date_time.h"
#include "tablestore/table_data.h"
#include "test_log.h"

namespace vx {
namespace {

TEST(TextToInteger, SignAndDigitsOnly) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"123", 123},      {"+7", 7},
      {"-7", -7},        {"007", 7},
      {"", 0},           {"-", 0},
      {"+", 0},          {"12a", 0},
      {" 1", 0},         {"1 ", 0},
      {"'5'", 0},        {"1.5", 0},
      {"--1", 0},        {"2147483647", 2147483647},
      {"4294967301", 5}, {"2147483648", std::numeric_limits<std::int32_t>::min()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToInt32(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(TextToInt32(nullptr), 0);
  EXPECT_EQ(TextToInt64("5000000000"), 5000000000LL);
  EXPECT_EQ(TextToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(TextToInt64("9223372036854775808"), std::numeric_limits<std::int64_t>::min());  // wraps
  EXPECT_EQ(TextToInt64("1x"), 0);
  EXPECT_EQ(TextToInt64(nullptr), 0);
}

TEST(TextToDouble, SignDigitsAndFraction) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"1.5", 1.5}, {"-2.25", -2.25}, {"+3", 3},    {"5.", 5},  {".5", 0.5}, {"", 0},
      {"-", 0},     {"1e5", 0},       {"1.2.3", 0}, {"1,5", 0}, {" 1", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToDouble(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(TextToDouble(nullptr), 0);
  // Fraction digits past the ninth still count (a 32-bit divisor would overflow there).
  EXPECT_NEAR(TextToDouble("0.123456789123"), 0.123456789123, 1e-15);
  EXPECT_NEAR(TextToDouble("2.00000000001"), 2.00000000001, 1e-15);
  EXPECT_GT(TextToDouble("0.0000000000001"), 0);
}

struct ConversionCase {
  std::uint8_t type;
  const char* text;
  std::string expected;  // bytes
};

std::string LittleEndian(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}

template <typename T>
std::string Bytes(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

TEST(ConvertToTypedValue, ConvertsByType) {
  const ConversionCase cases[] = {
      {kTypeNotSupported, "'abc'", "'abc'"},
      {kTypeTinyInt, "300", LittleEndian(300, 1)},
      {kTypeUnsignedTinyInt, "200", LittleEndian(200, 1)},
      {kTypeSmallInt, "70000", LittleEndian(70000, 2)},
      {kTypeUnsignedSmallInt, "40000", LittleEndian(40000, 2)},
      {kTypeInt, "-2", LittleEndian(static_cast<std::uint32_t>(-2), 4)},
      {kTypeUnsignedInt, "4294967295", LittleEndian(0xFFFFFFFFu, 4)},
      {kTypeBigInt, "5000000000", LittleEndian(5000000000ULL, 8)},
      {kTypeUnsignedBigInt, "'7'", LittleEndian(0, 8)},
      {kTypeFloat, "1.5", Bytes(1.5f)},
      {kTypeDouble, "1.5", Bytes(1.5)},
      {kTypeReal, "-0.25", Bytes(-0.25f)},
      {kTypeDecimal, "1.25", "1.25"},
      {kTypeNumeric, "12", "12"},
      {kTypeSqlChar, "'x y'", "'x y'"},
      {kTypeChar, "", ""},
      {kTypeText, "abc", "abc"},
      {kTypeBoolean, "true", std::string(1, '\1')},
      {kTypeBoolean, "FALSE", std::string(1, '\0')},
      {kTypeBlob, "ab", "ab"},
      {kTypeClob, "ab", "ab"},
  };
  for (const ConversionCase& c : cases) {
    std::int32_t length = static_cast<std::int32_t>(std::strlen(c.text));
    char* value = ConvertToTypedValue(c.text, &length, c.type);
    ASSERT_NE(value, nullptr) << static_cast<int>(c.type);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(length)), c.expected) << static_cast<int>(c.type);
    EXPECT_EQ(value[length], '\0');
    FreeTypedValue(value, c.type);
  }
}

TEST(ConvertToTypedValue, CopyingTypesTakeTheGivenLength) {
  std::int32_t length = 2;
  char* value = ConvertToTypedValue("abcdef", &length, kTypeBlob);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "ab");
  EXPECT_EQ(length, 2);
  std::free(value);
}

TEST(ConvertToTypedValue, NullResults) {
  std::int32_t length = 3;
  EXPECT_EQ(ConvertToTypedValue(nullptr, &length, kTypeText), nullptr);
  EXPECT_EQ(ConvertToTypedValue("yes", &length, kTypeBoolean), nullptr);
  for (int type : {23, 100, 255}) {
    EXPECT_EQ(ConvertToTypedValue("abc", &length, static_cast<std::uint8_t>(type)), nullptr) << type;
  }
  EXPECT_EQ(length, 3);
}

TEST(ConvertToTypedValue, DateTimeTypesHoldADateTimeRecord) {
  for (std::uint8_t type : {kTypeDate, kTypeTime, kTypeDateTime}) {
    std::int32_t length = 19;
    char* value = ConvertToTypedValue("2021-03-04 05:06:07", &length, type);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(length, kQelDateTimeLength);
    const auto* date_time = reinterpret_cast<const QelDateTime*>(value);
    ASSERT_NE(date_time->date, nullptr);
    ASSERT_NE(date_time->time, nullptr);
    EXPECT_EQ(date_time->date->year, 2021);
    EXPECT_EQ(date_time->time->second, 7);
    FreeTypedValue(value, type);
  }
}

// CompareByType on hand-made buffers of exactly the given lengths (so that a read past a narrow
// value shows under AddressSanitizer).
int Compare(const std::string& row, const std::string& literal, std::uint8_t op, std::uint8_t type) {
  char* row_buffer = static_cast<char*>(std::malloc(row.size() + 1));
  char* literal_buffer = static_cast<char*>(std::malloc(literal.size() + 1));
  std::memcpy(row_buffer, row.c_str(), row.size() + 1);
  std::memcpy(literal_buffer, literal.c_str(), literal.size() + 1);
  const int result = CompareByType(row_buffer, static_cast<std::int32_t>(row.size()), literal_buffer,
                                   static_cast<std::int32_t>(literal.size()), op, type);
  std::free(row_buffer);
  std::free(literal_buffer);
  return result;
}

TEST(CompareByType, NarrowValuesAreWidenedByTheTypesSign) {
  // A one- or two-byte literal against a four-byte row value, and the other way round.
  EXPECT_EQ(Compare(LittleEndian(static_cast<std::uint32_t>(-1), 4), LittleEndian(0xFF, 1), kOpEqual, kTypeTinyInt), 1);
  EXPECT_EQ(Compare(LittleEndian(255, 4), LittleEndian(0xFF, 1), kOpEqual, kTypeUnsignedTinyInt), 1);
  EXPECT_EQ(Compare(LittleEndian(static_cast<std::uint32_t>(-2), 4), LittleEndian(0xFFFE, 2), kOpEqual, kTypeSmallInt),
            1);
  EXPECT_EQ(Compare(LittleEndian(0xFFFE, 4), LittleEndian(0xFFFE, 2), kOpEqual, kTypeUnsignedSmallInt), 1);
  EXPECT_EQ(Compare(LittleEndian(0xFF, 1), LittleEndian(static_cast<std::uint32_t>(-1), 4), kOpEqual, kTypeInt), 1);
  EXPECT_EQ(Compare(LittleEndian(0xFF, 1), LittleEndian(0xFFFFFFFFu, 4), kOpEqual, kTypeUnsignedInt), 0);
  EXPECT_EQ(Compare(LittleEndian(static_cast<std::uint32_t>(-3), 4), LittleEndian(static_cast<std::uint64_t>(-3), 8),
                    kOpEqual, kTypeBigInt),
            1);
  // Unsigned 32-bit ordering.
  EXPECT_EQ(Compare(LittleEndian(0x80000000u, 4), LittleEndian(1, 4), kOpGreater, kTypeUnsignedInt), 1);
  EXPECT_EQ(Compare(LittleEndian(0x80000000u, 4), LittleEndian(1, 4), kOpGreater, kTypeInt), 0);
}

TEST(CompareByType, FloatsNeedFourBytes) {
  EXPECT_EQ(Compare(Bytes(2.5f), Bytes(2.5f), kOpEqual, kTypeFloat), 1);
  EXPECT_EQ(Compare(Bytes(-1.0f), Bytes(0.5f), kOpLess, kTypeFloat), 1);
  EXPECT_EQ(Compare(std::string("\1\2", 2), Bytes(0.0f), kOpNotEqual, kTypeFloat), 0);
}

TEST(CompareByType, TextDropsTheLiteralsOuterCharacters) {
  EXPECT_EQ(Compare("ab", "'abc'", kOpLess, kTypeChar), 1);
  EXPECT_EQ(Compare("", "x", kOpEqual, kTypeText), 1);
  EXPECT_EQ(Compare("\x80", "'a'", kOpLess, kTypeSqlChar), 1);  // bytes compare as signed
  EXPECT_EQ(CompareByType("a", 1, nullptr, 0, kOpNotEqual, kTypeText), 0);
}

TEST(CountSubstring, ForwardScanWithoutRetry) {
  struct Case {
    const char* text;
    const char* pattern;
    std::int32_t count;
    std::int32_t position;
  };
  const Case cases[] = {
      {"a:b:c", ":", 2, 1}, {"a:b:", ":", 2, 1},    {"table:col:val", ":", 2, 5},
      {"abab", "ab", 2, 0}, {"xabcab", "ab", 2, 1}, {"aaa", "aa", 1, 0},
      {"aab", "ab", 0, 0},  // the "a" at which the match failed is not tried again
      {"abc", "x", 0, 0},   {"", ":", 0, 0},        {"abc", "", 0, 0},
      {"ab", "abc", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountSubstring(c.text, c.pattern), c.count) << c.text << " / " << c.pattern;
    EXPECT_EQ(SubstringPosition(c.text, c.pattern), c.position) << c.text << " / " << c.pattern;
  }
  EXPECT_EQ(CountSubstring(nullptr, ":"), -1);
  EXPECT_EQ(CountSubstring("a", nullptr), -1);
  EXPECT_EQ(SubstringPosition(nullptr, ":"), -1);
  EXPECT_EQ(SubstringPosition("a", nullptr), -1);
}

std::string Take(char* text) {
  std::string copy = text == nullptr ? "<null>" : text;
  std::free(text);
  return copy;
}

TEST(SeparatorParts, BeforeAndAfterTheFirstOccurrence) {
  EXPECT_EQ(Take(TextBeforeSeparator("table:col:val", ":")), "table");
  EXPECT_EQ(Take(TextAfterSeparator("table:col:val", ":")), "col:val");
  EXPECT_EQ(Take(TextBeforeSeparator(":x", ":")), "");
  EXPECT_EQ(Take(TextAfterSeparator(":x", ":")), "x");
  EXPECT_EQ(Take(TextAfterSeparator("x:", ":")), "");
  EXPECT_EQ(Take(TextBeforeSeparator("abc", "::")), "");
  EXPECT_EQ(Take(TextAfterSeparator("abc", "::")), "<null>");
  EXPECT_EQ(Take(TextBeforeSeparator(nullptr, ":")), "<null>");
  EXPECT_EQ(Take(TextAfterSeparator("a", nullptr)), "<null>");
}

TEST(FindSubString, AnyPositionCaseSensitive) {
  test::ScopedTestLog log(4);
  EXPECT_EQ(FindSubString("aab", "ab"), 1);
  EXPECT_EQ(FindSubString("Workflow_List", "List"), 1);
  EXPECT_EQ(FindSubString("Workflow_list", "List"), 0);
  EXPECT_EQ(FindSubString("ab", "abc"), 0);
  EXPECT_EQ(FindSubString(nullptr, "a"), 0);
  // The trace text starts with a line feed, so it shows as a line of its own.
  bool found = false;
  for (const std::string& line : log.Lines()) {
    found = found || line.find("\t@@@@@ Inside FindSubString() @@@@@ ") != std::string::npos;
  }
  EXPECT_TRUE(found);
}

TEST(StringCompare, NullsAndSignedBytes) {
  EXPECT_EQ(CompareStrings(nullptr, nullptr), 0);
  EXPECT_LT(CompareStrings(nullptr, ""), 0);
  EXPECT_GT(CompareStrings("", nullptr), 0);
  EXPECT_EQ(CompareStrings("abc", "abc"), 0);
  EXPECT_EQ(CompareStrings("abc", "abd"), -1);
  EXPECT_EQ(CompareStrings("abc", "ab"), 'c');
  EXPECT_EQ(CompareStrings("A", "a"), 'A' - 'a');
  EXPECT_EQ(CompareStrings("\x80", "a"), -128 - 'a');
}

TEST(StringCompare, CaseInsensitiveFoldsOnlyAsciiLetters) {
  EXPECT_EQ(CompareStringsNoCase(nullptr, nullptr), 0);
  EXPECT_LT(CompareStringsNoCase(nullptr, "a"), 0);
  EXPECT_GT(CompareStringsNoCase("a", nullptr), 0);
  EXPECT_EQ(CompareStringsNoCase("Agentparams", "agentPARAMS"), 0);
  EXPECT_EQ(CompareStringsNoCase("a", "B"), 'a' - 'b');
  EXPECT_EQ(CompareStringsNoCase("_", "A"), '_' - 'a');  // folded: "_" sorts before letters
  EXPECT_NE(CompareStringsNoCase("\xC9", "\xE9"), 0);    // bytes beyond ASCII are not folded
}

}  // namespace
}  // namespace vx
