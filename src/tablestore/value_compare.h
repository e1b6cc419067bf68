// Typed values of the table store: converting a criteria literal's text into the value of a column
// type, comparing a row value with it, and the small text and number readers the store shares with
// the XML loader.
//
// Stored representation of the numeric column types (the loader and the comparisons agree on it):
//   types 1 to 6   4-byte little-endian integers in rows (criteria literals of types 1 to 4 are
//                  converted to the type's width, 1 or 2 bytes, and widened again before comparing:
//                  sign-extended for 1 and 3, zero-extended for 2 and 4)
//   types 7, 8     8-byte integers
//   type 9         a 4-byte single-precision float, in rows as in converted literals
//   type 10        an 8-byte double
//   type 11        a 4-byte float
// A NULL value (a null buffer) compares as less than every literal, for text and numbers alike.
//
// Buffers returned here are allocated with malloc/calloc; free them with free, except the date and
// time values of types 16 to 18 (a QelDateTime with its parts), which FreeTypedValue releases. All
// functions are thread-safe apart from the logging they do.
#pragma once

#include <cstdint>

namespace vx {

// The conversion width of the numeric types 0 to 11 (0 for the others): 0, 1, 1, 2, 2, 4, 4, 8, 8, 4,
// 8, 4.
std::int32_t TypeWidth(std::uint8_t type);

// A new value buffer holding the text converted for the column type, or null (null text, type 19 with
// a text other than TRUE/FALSE, types 23 and above, no memory). *length is the number of bytes of text
// to take (the text holds at least that many) and receives the converted value's length.
[[nodiscard]] char* ConvertToTypedValue(const char* text, std::int32_t* length, std::uint8_t type);

// The bytes ConvertToTypedValue gives for a numeric type (1 to 11), written to out (room for 8 bytes)
// without allocating: the value's length, or -1 for a type that is not numeric. length bytes of text
// are read at most.
std::int32_t ConvertNumberInto(const char* text, std::int32_t length, std::uint8_t type, char* out);

// Releases a buffer from ConvertToTypedValue (types 16 to 18 hold a date-time record with two parts).
void FreeTypedValue(char* value, std::uint8_t type);

// Compares a row value (left) with a converted literal (right) by column type: 1 when the operator
// (1 <, 2 >, 3 <=, 4 >=, 5 =, 6 !=) holds, else 0. Types 1 to 7, 9 and the text types 14, 15 and 22
// are comparable, every other type gives 0. For text the literal still has its quotes: its first and
// last characters are dropped before the byte-wise compare. Numbers are never read past the given
// lengths; a value shorter than the type's width is widened by the type's sign.
int CompareByType(const char* row_value, std::int32_t row_length, const char* literal, std::int32_t literal_length,
                  std::uint8_t op, std::uint8_t type);

// Decimal integer text: optional "+" or "-", then digits only; wraps on overflow. Malformed, empty or
// null text gives 0.
std::int32_t TextToInt32(const char* text);
std::int64_t TextToInt64(const char* text);
// Decimal number text: optional sign, digits, optionally "." and digits; no exponent. Malformed or
// null text gives 0.
double TextToDouble(const char* text);

// Occurrences of pattern in text, counted with one forward scan that does not retry the character
// at which a partial match failed (so "aab" holds no "ab"); -1 when either is null, 0 for an empty
// pattern.
std::int32_t CountSubstring(const char* text, const char* pattern);
// Index of the first character of the first occurrence (same scan), 0 when there is none, -1 when
// either is null.
std::int32_t SubstringPosition(const char* text, const char* pattern);
// New copies of the text before the first occurrence of the separator and of the text after it.
// Before: SubstringPosition leading characters (an empty string when the separator is absent).
// After: null when the separator is absent. Both null for a null argument or no memory.
[[nodiscard]] char* TextBeforeSeparator(const char* text, const char* separator);
[[nodiscard]] char* TextAfterSeparator(const char* text, const char* separator);
// 1 when pattern occurs in text (case-sensitive), else 0; logs its trace line.
int FindSubString(const char* text, const char* pattern);

// Byte-wise compare: 0 for both null, negative for a null a, positive for a null b, otherwise the
// difference of the first differing bytes taken as signed bytes.
int CompareStrings(const char* a, const char* b);
// The same with A to Z folded to lower case on both sides.
int CompareStringsNoCase(const char* a, const char* b);

}  // namespace vx
