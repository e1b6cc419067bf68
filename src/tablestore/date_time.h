// Date, time and date-time values of the table store: the values of columns of types 16 (date),
// 17 (time) and 18 (date-time), their text forms, reading them from text, the current local
// date-time, interval arithmetic and ordering.
//
// Memory: every record is allocated zeroed with calloc and released with free (or the Free functions
// below). A QelDateTime and its two parts are ONE allocation: the QelDate and the QelTime follow the
// QelDateTime record in the same block and its pointers point there (null for an absent part). So
// free() of the record releases the parts too; never free the parts of a QelDateTime separately.
// A QelDateTime is never copied byte-wise (its pointers would point into the original); use
// CopyQelDateTime.
//
// Value lengths: a row or a criteria literal records a date as 4 bytes, a time as 3 and a date-time as
// 11 (kQelDateTimeLength), on every build. The QelDateTime record itself is larger than 11 bytes
// where pointers are 8 bytes wide, and its block larger still; the functions here always allocate the
// whole block, so the record may be read from any value buffer they made.
#pragma once

#include <cstdint>

namespace vx {

struct QelDate {
  std::uint16_t year;
  std::uint8_t month;  // 1..12 (not validated)
  std::uint8_t day;
};

struct QelTime {
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint8_t second;
};

struct QelDateTime {
  QelDate* date;          // may be null (a text with only a time)
  QelTime* time;          // may be null (a text with only a date)
  std::uint8_t extra[3];  // zero: no constructor in this system fills them
};

static_assert(sizeof(QelDate) == 4);
static_assert(sizeof(QelTime) == 3);

// The value lengths that rows and criteria literals record.
inline constexpr std::int32_t kQelDateLength = 4;
inline constexpr std::int32_t kQelTimeLength = 3;
inline constexpr std::int32_t kQelDateTimeLength = 11;

// Interval units of AddInterval/SubtractInterval.
enum QelIntervalUnit : std::uint8_t {
  kIntervalNanoseconds = 1,
  kIntervalMicroseconds = 2,
  kIntervalMilliseconds = 3,
  kIntervalSeconds = 4,
  kIntervalMinutes = 5,
  kIntervalHours = 6,
  kIntervalDays = 7,
  kIntervalWeeks = 8,
  kIntervalMonths = 9,
};

// New records (free with free), or null after the error line.
[[nodiscard]] QelDate* CreateQelDate(int year, int month, int day);
[[nodiscard]] QelTime* CreateQelTime(int hour, int minute, int second);
// Both parts present.
[[nodiscard]] QelDateTime* CreateQelDateTime(int year, int month, int day, int hour, int minute, int second);

// A deep copy in a new block, or null.
[[nodiscard]] QelDateTime* CopyQelDateTime(const QelDateTime* source);
// Releases the record with its parts; null is accepted.
void FreeQelDateTime(QelDateTime* value);

// New strings (free with free): "YYYY-MM-DD", "HH:MM:SS", and for a date-time both separated by a
// space, or the one part present. Null for a null record (or a date-time without parts).
[[nodiscard]] char* QelDateToString(const QelDate* date);
[[nodiscard]] char* QelTimeToString(const QelTime* time);
[[nodiscard]] char* QelDateTimeToString(const QelDateTime* value);

// Reads numbers from text as sscanf reads a format of %d conversions, other characters and spaces
// ('d' in the pattern stands for %d: "d-d-d d:d:d"), except that a number out of the int range
// saturates instead of being undefined. Reading ends at the first mismatch; the fields not reached
// keep their values. Every date and time text of the store is read with it, so a loaded value and a
// criteria literal of the same text are the same value.
void ScanDateTimeNumbers(const char* text, const char* pattern, int* const* fields);

// "Y-M-D H:M:S", "Y-M-D" or "H:M:S" into a date-time with both parts (absent fields 0), or null.
[[nodiscard]] QelDateTime* ConvertStringToQelDateTime(const char* text);
// The same, but only the parts present in the text are set; null for a text with neither.
[[nodiscard]] QelDateTime* ConvertStringToQelGenDateTime(const char* text);

// The current local date-time (through the time seam), or null.
[[nodiscard]] QelDateTime* GetCurrentQelDateTime();

// Shift the record by amount units (local-time normalisation: 31 January + 1 month is 3 March or
// 2 March). Returns the record. A record without both parts, an unknown unit or a result outside
// the host's calendar range or outside the years 0 to 65535 leaves it unchanged.
QelDateTime* AddIntervalToQelDateTime(QelDateTime* value, std::uint32_t amount, std::uint8_t unit);
QelDateTime* SubtractIntervalFromQelDateTime(QelDateTime* value, std::uint32_t amount, std::uint8_t unit);

// 1 when a is strictly later than b, else 0 (also for a null argument). An absent part compares as
// all zeros.
int IsQelDateTimeLater(const QelDateTime* a, const QelDateTime* b);

}  // namespace vx
