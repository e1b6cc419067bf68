#include "logging/log_format.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace vx {
namespace {

// Widths and precisions above this are left to vsnprintf (no line of ours asks for them).
constexpr int kLargestField = 1 << 16;

enum class Length { kNone, kLong, kLongLong, kSize };

struct Conversion {
  bool left = false;    // '-': pad on the right
  bool zero = false;    // '0': pad numbers with zeros after the sign
  int width = 0;
  int precision = -1;   // none
  Length length = Length::kNone;
};

// The text being written, from offset on; grows the buffer as needed.
class Output {
 public:
  Output(std::string& buffer, std::size_t offset) : buffer_(buffer), start_(offset), position_(offset) {}

  char* Reserve(std::size_t count) {
    if (buffer_.size() - position_ < count) Grow(count);
    return buffer_.data() + position_;
  }
  void Advance(std::size_t count) { position_ += count; }
  void Append(const char* data, std::size_t count) {
    std::memcpy(Reserve(count), data, count);
    position_ += count;
  }
  [[nodiscard]] std::size_t Length() const { return position_ - start_; }

 private:
  void Grow(std::size_t count) {
    const std::size_t needed = position_ + count;
    buffer_.resize(needed > buffer_.size() * 2 ? needed : buffer_.size() * 2);
  }

  std::string& buffer_;
  std::size_t start_;
  std::size_t position_;
};

// Writes body_size bytes made by write_body(pointer) into a field of the conversion's width.
template <typename WriteBody>
void PutField(Output& out, const Conversion& conversion, std::size_t body_size, const WriteBody& write_body) {
  const auto width = static_cast<std::size_t>(conversion.width);
  const std::size_t pad = width > body_size ? width - body_size : 0;
  char* at = out.Reserve(pad + body_size);
  if (pad != 0 && !conversion.left) {
    std::memset(at, ' ', pad);
    at += pad;
  }
  write_body(at);
  if (pad != 0 && conversion.left) std::memset(at + body_size, ' ', pad);
  out.Advance(pad + body_size);
}

// Writes the digits of magnitude so that they end at end; returns where they begin. 32-bit values
// take 32-bit arithmetic (a 64-bit division is a library call on 32-bit builds), two digits a step.
char* PutDigitsBefore(char* end, unsigned long long magnitude, bool hexadecimal) {
  if (hexadecimal) {
    for (; magnitude != 0; magnitude >>= 4) *--end = "0123456789abcdef"[magnitude & 0xFu];
    return end;
  }
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  for (; magnitude > UINT32_MAX; magnitude /= 10) *--end = static_cast<char>('0' + magnitude % 10);
  auto small = static_cast<std::uint32_t>(magnitude);
  for (; small >= 100; small /= 100) {
    const char* pair = kPairs + 2 * (small % 100);
    *--end = pair[1];
    *--end = pair[0];
  }
  if (small >= 10) {
    *--end = kPairs[2 * small + 1];
    *--end = kPairs[2 * small];
  } else if (small != 0) {
    *--end = static_cast<char>('0' + small);
  }
  return end;
}

void PutInteger(Output& out, const Conversion& conversion, unsigned long long magnitude, bool negative,
                bool hexadecimal) {
  // The digits end kDigitRoom bytes into the buffer; copying kDigitRoom bytes from the first digit
  // (the bytes after the last are overwritten or lie beyond the text) keeps the copy to two moves.
  constexpr std::size_t kDigitRoom = 24;
  char digits[2 * kDigitRoom];
  char* const digits_end = digits + kDigitRoom;
  const char* first = PutDigitsBefore(digits_end, magnitude, hexadecimal);
  const auto count = static_cast<std::size_t>(digits_end - first);
  // The precision is the least number of digits (1 by default: a precision of 0 prints 0 as nothing).
  const std::size_t least = conversion.precision < 0 ? 1 : static_cast<std::size_t>(conversion.precision);
  std::size_t zeros = least > count ? least - count : 0;
  const std::size_t sign = negative ? 1 : 0;
  const auto width = static_cast<std::size_t>(conversion.width);
  if (conversion.zero && !conversion.left && conversion.precision < 0) {
    const std::size_t body = sign + zeros + count;
    if (width > body) zeros += width - body;
  }
  // Room for the whole copy of the digits, beyond the field if need be.
  (void)out.Reserve(width + sign + zeros + count + kDigitRoom);
  PutField(out, conversion, sign + zeros + count, [&](char* at) {
    if (negative) *at++ = '-';
    constexpr char kZeros[] = "0000000000000000";
    if (zeros <= sizeof kZeros - 1) {
      std::memcpy(at, kZeros, sizeof kZeros - 1);
    } else {
      std::memset(at, '0', zeros);
    }
    at += zeros;
    std::memcpy(at, first, kDigitRoom);
  });
}

void PutSigned(Output& out, const Conversion& conversion, long long value) {
  // The magnitude in unsigned arithmetic, so that LLONG_MIN has one.
  const bool negative = value < 0;
  const unsigned long long magnitude =
      negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  PutInteger(out, conversion, magnitude, negative, false);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at text into value; false when they pass kLargestField.
bool ReadField(const char*& text, int& value) {
  value = 0;
  for (; IsDigit(*text); ++text) {
    value = value * 10 + (*text - '0');
    if (value > kLargestField) return false;
  }
  return true;
}

// Reads flags, width, precision and length after the '%'; false for anything left to vsnprintf.
bool ReadConversion(const char*& text, Conversion& conversion) {
  for (;; ++text) {
    if (*text == '-') {
      conversion.left = true;
    } else if (*text == '0') {
      conversion.zero = true;
    } else {
      break;
    }
  }
  if (!ReadField(text, conversion.width)) return false;
  if (*text == '.') {
    ++text;
    if (!ReadField(text, conversion.precision)) return false;
  }
  if (*text == 'l') {
    ++text;
    conversion.length = Length::kLong;
    if (*text == 'l') {
      ++text;
      conversion.length = Length::kLongLong;
    }
  } else if (*text == 'z') {
    ++text;
    conversion.length = Length::kSize;
  }
  return true;
}

// Formats with our own conversions; false (with args partly consumed) when the format needs
// vsnprintf.
bool FormatOwn(Output& out, const char* format, std::va_list args) {
  const char* text = format;
  for (;;) {
    const char* run = text;
    const char* percent = std::strchr(text, '%');
    text = percent != nullptr ? percent : text + std::strlen(text);
    if (text != run) out.Append(run, static_cast<std::size_t>(text - run));
    if (*text == '\0') return true;
    ++text;
    if (*text == '%') {
      out.Append("%", 1);
      ++text;
      continue;
    }
    Conversion conversion;
    if (!ReadConversion(text, conversion)) return false;
    switch (*text++) {
      case 'd':
      case 'i':
        // The branches differ only in the argument's type, which the clone check does not compare.
        // NOLINTBEGIN(bugprone-branch-clone)
        switch (conversion.length) {
          case Length::kNone: PutSigned(out, conversion, va_arg(args, int)); break;
          case Length::kLong: PutSigned(out, conversion, va_arg(args, long)); break;
          case Length::kLongLong: PutSigned(out, conversion, va_arg(args, long long)); break;
          case Length::kSize: PutSigned(out, conversion, va_arg(args, std::make_signed_t<std::size_t>)); break;
        }
        // NOLINTEND(bugprone-branch-clone)
        break;
      case 'u':
      case 'x': {
        const bool hexadecimal = text[-1] == 'x';
        unsigned long long value = 0;
        // As above, the branches differ in the argument's type only.
        // NOLINTBEGIN(bugprone-branch-clone)
        switch (conversion.length) {
          case Length::kNone: value = va_arg(args, unsigned); break;
          case Length::kLong: value = va_arg(args, unsigned long); break;
          case Length::kLongLong: value = va_arg(args, unsigned long long); break;
          case Length::kSize: value = va_arg(args, std::size_t); break;
        }
        // NOLINTEND(bugprone-branch-clone)
        PutInteger(out, conversion, value, false, hexadecimal);
        break;
      }
      case 'c': {
        // C and the C libraries disagree on '0' with %c and %s; vsnprintf decides those.
        if (conversion.length != Length::kNone || conversion.zero) return false;
        const char byte = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
        PutField(out, conversion, 1, [byte](char* at) { *at = byte; });
        break;
      }
      case 's': {
        if (conversion.length != Length::kNone || conversion.zero) return false;
        const char* value = va_arg(args, const char*);
        if (value == nullptr) return false;  // each C library prints its own placeholder
        std::size_t size = 0;
        if (conversion.precision < 0) {
          size = std::strlen(value);
        } else {
          const void* end = std::memchr(value, '\0', static_cast<std::size_t>(conversion.precision));
          size = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - value)
                                : static_cast<std::size_t>(conversion.precision);
        }
        PutField(out, conversion, size, [value, size](char* at) { std::memcpy(at, value, size); });
        break;
      }
      default:
        return false;
    }
  }
}

int FormatWithCLibrary(std::string& buffer, std::size_t offset, const char* format, std::va_list args) {
  if (buffer.size() <= offset) buffer.resize(offset + 256);
  std::va_list first;
  va_copy(first, args);
  int length = std::vsnprintf(buffer.data() + offset, buffer.size() - offset, format, first);
  va_end(first);
  if (length >= 0 && static_cast<std::size_t>(length) >= buffer.size() - offset) {
    buffer.resize(offset + static_cast<std::size_t>(length) + 1);
    std::va_list second;
    va_copy(second, args);
    length = std::vsnprintf(buffer.data() + offset, buffer.size() - offset, format, second);
    va_end(second);
  }
  return length;
}

}  // namespace

int FormatIntoBuffer(std::string& buffer, std::size_t offset, const char* format, std::va_list args) {
  if (buffer.size() < offset) buffer.resize(offset);
  Output out(buffer, offset);
  std::va_list own;
  va_copy(own, args);
  const bool done = FormatOwn(out, format, own);
  va_end(own);
  if (!done) return FormatWithCLibrary(buffer, offset, format, args);
  if (out.Length() > static_cast<std::size_t>(INT_MAX)) return -1;
  return static_cast<int>(out.Length());
}

}  // namespace vx
