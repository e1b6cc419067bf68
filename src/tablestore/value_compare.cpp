#include "tablestore/value_compare.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "base/ascii_text.h"
#include "logging/logger.h"
#include "tablestore/criteria.h"
#include "tablestore/date_time.h"
#include "tablestore/table_data.h"

namespace vx {
namespace {

constexpr std::int32_t kTypeWidths[] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4};

// Length of text, stopping at a zero byte or after limit bytes.
std::size_t BoundedLength(const char* text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length] != '\0') {
    ++length;
  }
  return length;
}

// The position after an optional leading "+" or "-"; negative tells which it was.
std::size_t SkipSign(const char* text, std::size_t length, bool& negative) {
  negative = length > 0 && text[0] == '-';
  return length > 0 && (text[0] == '+' || text[0] == '-') ? 1 : 0;
}

// Optional sign and decimal digits only, accumulated in the unsigned type so that overflow wraps.
template <typename Unsigned>
Unsigned ReadInteger(const char* text, std::size_t length) {
  if (text == nullptr) {
    return 0;
  }
  bool negative = false;
  std::size_t i = SkipSign(text, length, negative);
  if (i == length) {
    return 0;
  }
  Unsigned value = 0;
  for (; i < length; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      return 0;
    }
    value = static_cast<Unsigned>(value * 10U + static_cast<Unsigned>(c - '0'));
  }
  return negative ? static_cast<Unsigned>(Unsigned{0} - value) : value;
}

double ReadDecimal(const char* text, std::size_t length) {
  if (text == nullptr) {
    return 0;
  }
  bool negative = false;
  std::size_t i = SkipSign(text, length, negative);
  double value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  if (i < length && text[i] == '.') {
    // The divisor is a double: an integer one would overflow after nine fraction digits.
    double divisor = 1;
    for (++i; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
      divisor *= 10;
      value += (text[i] - '0') / divisor;
    }
  }
  if (i != length) {
    return 0;
  }
  return negative ? -value : value;
}

// A zeroed buffer of size + 1 bytes holding size bytes of source.
char* NewBuffer(const void* source, std::size_t size) {
  char* buffer = static_cast<char*>(std::calloc(size + 1, 1));
  if (buffer != nullptr && size > 0) {
    std::memcpy(buffer, source, size);
  }
  return buffer;
}

bool IsSignedType(std::uint8_t type) {
  return type == kTypeTinyInt || type == kTypeSmallInt || type == kTypeInt || type == kTypeBigInt;
}

// A little-endian integer of up to eight bytes, widened to 64 bits by the type's sign; only length
// bytes are read.
std::uint64_t ReadStoredInteger(const char* buffer, std::int32_t length, std::uint8_t type) {
  const std::int32_t size = length >= 8 ? 8 : length >= 4 ? 4 : length >= 2 ? 2 : length >= 1 ? 1 : 0;
  if (size == 0) {
    return 0;
  }
  std::uint64_t value = 0;
  for (std::int32_t i = 0; i < size; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
  }
  if (size < 8 && IsSignedType(type) && (value >> (8 * size - 1)) != 0) {
    value |= ~std::uint64_t{0} << (8 * size);
  }
  return value;
}

template <typename T>
int Relation(std::uint8_t op, T left, T right) {
  switch (op) {
    case kOpLess:
      return left < right ? 1 : 0;
    case kOpGreater:
      return left > right ? 1 : 0;
    case kOpLessOrEqual:
      return left <= right ? 1 : 0;
    case kOpGreaterOrEqual:
      return left >= right ? 1 : 0;
    case kOpEqual:
      return left == right ? 1 : 0;
    case kOpNotEqual:
      return left != right ? 1 : 0;
    default:
      return 0;
  }
}

// CompareStrings of a and the first length bytes of b (b has no zero byte among them).
int CompareWithSpan(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0;; ++i) {
    const char left = a[i];
    const char right = i < length ? b[i] : '\0';
    if (left != right) {
      return static_cast<signed char>(left) - static_cast<signed char>(right);
    }
    if (left == '\0') {
      return 0;
    }
  }
}

bool IsComparable(std::uint8_t type) {
  return (type >= kTypeTinyInt && type <= kTypeBigInt) || type == kTypeFloat || type == kTypeSqlChar ||
         type == kTypeChar || type == kTypeText;
}

// Position just after the first occurrence of pattern in text (the forward scan described in the
// header), or npos.
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
std::size_t EndOfFirstOccurrence(const char* text, const char* pattern) {
  if (pattern[0] == '\0') {
    return kNotFound;
  }
  const char* cursor = pattern;
  for (std::size_t i = 0; text[i] != '\0'; ++i) {
    if (text[i] == *cursor) {
      if (*++cursor == '\0') {
        return i + 1;
      }
    } else {
      cursor = pattern;
    }
  }
  return kNotFound;
}

}  // namespace

std::int32_t TypeWidth(std::uint8_t type) { return type < std::size(kTypeWidths) ? kTypeWidths[type] : 0; }

std::int32_t TextToInt32(const char* text) {
  return static_cast<std::int32_t>(ReadInteger<std::uint32_t>(text, text == nullptr ? 0 : std::strlen(text)));
}

std::int64_t TextToInt64(const char* text) {
  return static_cast<std::int64_t>(ReadInteger<std::uint64_t>(text, text == nullptr ? 0 : std::strlen(text)));
}

double TextToDouble(const char* text) { return ReadDecimal(text, text == nullptr ? 0 : std::strlen(text)); }

std::int32_t ConvertNumberInto(const char* text, std::int32_t length, std::uint8_t type, char* out) {
  const std::size_t size = text == nullptr || length < 0 ? 0 : BoundedLength(text, static_cast<std::size_t>(length));
  switch (type) {
    case kTypeTinyInt:
    case kTypeUnsignedTinyInt:
    case kTypeSmallInt:
    case kTypeUnsignedSmallInt:
    case kTypeInt:
    case kTypeUnsignedInt:
    case kTypeBigInt:
    case kTypeUnsignedBigInt: {
      const std::uint64_t value =
          type >= kTypeBigInt ? ReadInteger<std::uint64_t>(text, size) : ReadInteger<std::uint32_t>(text, size);
      const std::int32_t width = TypeWidth(type);
      for (std::int32_t i = 0; i < width; ++i) {
        out[i] = static_cast<char>(value >> (8 * i));
      }
      return width;
    }
    case kTypeFloat:
    case kTypeReal: {
      const float value = static_cast<float>(ReadDecimal(text, size));
      std::memcpy(out, &value, sizeof value);
      return sizeof value;
    }
    case kTypeDouble: {
      const double value = ReadDecimal(text, size);
      std::memcpy(out, &value, sizeof value);
      return sizeof value;
    }
    default:
      return -1;
  }
}

char* ConvertToTypedValue(const char* text, std::int32_t* length, std::uint8_t type) {
  if (text == nullptr || length == nullptr || *length < 0) {
    return nullptr;
  }
  const std::size_t given = static_cast<std::size_t>(*length);
  switch (type) {
    case kTypeNotSupported:
    case kTypeDecimal:
    case kTypeNumeric:
    case kTypeBlob:
    case kTypeClob:
      return NewBuffer(text, given);
    case kTypeTinyInt:
    case kTypeUnsignedTinyInt:
    case kTypeSmallInt:
    case kTypeUnsignedSmallInt:
    case kTypeInt:
    case kTypeUnsignedInt:
    case kTypeBigInt:
    case kTypeUnsignedBigInt:
    case kTypeFloat:
    case kTypeDouble:
    case kTypeReal: {
      char bytes[8];
      const std::int32_t size = ConvertNumberInto(text, *length, type, bytes);
      char* buffer = NewBuffer(bytes, static_cast<std::size_t>(size));
      if (buffer != nullptr) {
        *length = size;
      }
      return buffer;
    }
    case kTypeSqlChar:
    case kTypeChar:
    case kTypeText: {
      const std::size_t size = std::strlen(text);
      char* buffer = NewBuffer(text, size);
      if (buffer != nullptr) {
        *length = static_cast<std::int32_t>(size);
      }
      return buffer;
    }
    case kTypeDate:
    case kTypeTime:
    case kTypeDateTime: {
      QelDateTime* value = ConvertStringToQelDateTime(text);
      if (value != nullptr) {
        *length = kQelDateTimeLength;
      }
      return reinterpret_cast<char*>(value);
    }
    case kTypeBoolean: {
      char flag;
      if (CompareStringsNoCase(text, "TRUE") == 0) {
        flag = 1;
      } else if (CompareStringsNoCase(text, "FALSE") == 0) {
        flag = 0;
      } else {
        return nullptr;
      }
      char* buffer = NewBuffer(&flag, 1);
      if (buffer != nullptr) {
        *length = 1;
      }
      return buffer;
    }
    default:
      return nullptr;
  }
}

void FreeTypedValue(char* value, std::uint8_t type) {
  if (type == kTypeDate || type == kTypeTime || type == kTypeDateTime) {
    FreeQelDateTime(reinterpret_cast<QelDateTime*>(value));
  } else {
    std::free(value);
  }
}

int CompareByType(const char* row_value, std::int32_t row_length, const char* literal, std::int32_t literal_length,
                  std::uint8_t op, std::uint8_t type) {
  if (!IsComparable(type) || literal == nullptr) {
    return 0;
  }
  if (row_value == nullptr) {
    // NULL is less than every literal.
    return Relation(op, 0, 1);
  }
  switch (type) {
    case kTypeTinyInt:
    case kTypeSmallInt:
    case kTypeInt:
      return Relation(op, static_cast<std::int32_t>(ReadStoredInteger(row_value, row_length, type)),
                      static_cast<std::int32_t>(ReadStoredInteger(literal, literal_length, type)));
    case kTypeUnsignedTinyInt:
    case kTypeUnsignedSmallInt:
    case kTypeUnsignedInt:
      return Relation(op, static_cast<std::uint32_t>(ReadStoredInteger(row_value, row_length, type)),
                      static_cast<std::uint32_t>(ReadStoredInteger(literal, literal_length, type)));
    case kTypeBigInt:
      return Relation(op, static_cast<std::int64_t>(ReadStoredInteger(row_value, row_length, type)),
                      static_cast<std::int64_t>(ReadStoredInteger(literal, literal_length, type)));
    case kTypeFloat: {
      if (row_length < 4 || literal_length < 4) {
        return 0;
      }
      float left;
      float right;
      std::memcpy(&left, row_value, sizeof left);
      std::memcpy(&right, literal, sizeof right);
      return Relation(op, left, right);
    }
    default: {
      // Text: the literal without its first and last characters (its quotes).
      const char* inner_text = literal_length >= 2 ? literal + 1 : literal;
      const std::size_t inner = literal_length >= 2 ? static_cast<std::size_t>(literal_length) - 2 : 0;
      return Relation(op, CompareWithSpan(row_value, inner_text, BoundedLength(inner_text, inner)), 0);
    }
  }
}

std::int32_t CountSubstring(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) {
    return -1;
  }
  if (pattern[0] == '\0') {
    return 0;
  }
  std::int32_t count = 0;
  const char* cursor = pattern;
  for (; *text != '\0'; ++text) {
    if (*cursor == '\0') {
      ++count;  // a complete match; matching restarts at this character
      cursor = pattern;
    }
    if (*text == *cursor) {
      ++cursor;
    } else {
      cursor = pattern;
    }
  }
  if (*cursor == '\0') {
    ++count;
  }
  return count;
}

std::int32_t SubstringPosition(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) {
    return -1;
  }
  const std::size_t end = EndOfFirstOccurrence(text, pattern);
  return end == kNotFound ? 0 : static_cast<std::int32_t>(end - std::strlen(pattern));
}

char* TextBeforeSeparator(const char* text, const char* separator) {
  if (text == nullptr || separator == nullptr) {
    return nullptr;
  }
  const std::size_t end = EndOfFirstOccurrence(text, separator);
  return NewBuffer(text, end == kNotFound ? 0 : end - std::strlen(separator));
}

char* TextAfterSeparator(const char* text, const char* separator) {
  if (text == nullptr || separator == nullptr) {
    return nullptr;
  }
  const std::size_t end = EndOfFirstOccurrence(text, separator);
  if (end == kNotFound) {
    return nullptr;
  }
  return NewBuffer(text + end, std::strlen(text + end));
}

int FindSubString(const char* text, const char* pattern) {
  LogTrace("\n\t@@@@@ Inside FindSubString() @@@@@ \n");
  if (text == nullptr || pattern == nullptr) {
    return 0;
  }
  return std::strstr(text, pattern) != nullptr ? 1 : 0;
}

int CompareStrings(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) {
    return a == b ? 0 : (a == nullptr ? -1 : 1);
  }
  for (;; ++a, ++b) {
    if (*a != *b) {
      return static_cast<signed char>(*a) - static_cast<signed char>(*b);
    }
    if (*a == '\0') {
      return 0;
    }
  }
}

int CompareStringsNoCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) {
    return a == b ? 0 : (a == nullptr ? -1 : 1);
  }
  for (;; ++a, ++b) {
    const char left = LowerAscii(*a);
    const char right = LowerAscii(*b);
    if (left != right) {
      return static_cast<signed char>(left) - static_cast<signed char>(right);
    }
    if (left == '\0') {
      return 0;
    }
  }
}

}  // namespace vx
