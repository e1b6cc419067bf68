// Text conversions between UTF-8 and UTF-16, the system's message texts of error codes, and a
// case-insensitive find-and-replace (Windows).
//
// All conversions use the UTF-8 code page on both sides, so valid UTF-8 comes back unchanged and
// invalid byte sequences become U+FFFD. Thread-safe; they log through the process log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vx {

// UTF-8 -> UTF-16. False when text is missing (out untouched) or the conversion failed (out then
// holds whatever the conversion left, zero-filled).
[[nodiscard]] bool ChangeToWideStr(const char* text, std::wstring& out);
[[nodiscard]] bool ChangeUtf8ToWideStr(const char* text, std::wstring& out);
// As ChangeUtf8ToWideStr for a secret (a password): the text itself is never logged, on success or
// failure.
[[nodiscard]] bool ChangeSecretUtf8ToWideStr(const char* text, std::wstring& out);
// UTF-16 -> UTF-8.
[[nodiscard]] bool ChangeWideToUtf8Str(const wchar_t* text, std::string& out);
// 8-bit text decoded as UTF-8 and encoded again: invalid sequences become EF BF BD.
[[nodiscard]] bool ChangeAnsiToUTF8Str(const char* text, std::string& out);

// text lower-cased by the system's Unicode rules (UTF-8 to UTF-16, lower case, back to UTF-8); text
// unchanged when it is not convertible.
[[nodiscard]] std::string ToLowerUtf8(const std::string& text);

// Where GetErrorText finds the program's own text for a code the system has no message for
// (the installer result texts of the agent library, handed in at start-up).
using ResultTextProvider = std::string (*)(std::uint32_t code);
void SetResultTextProvider(ResultTextProvider provider);

// The system's message for code as UTF-8 (one line), or the program's own text for it; also logs
// it: "Error Code : %d , Error Message : %s \n" (error level) for nonzero codes, "Message : %s \n"
// (info level) for 0.
[[nodiscard]] std::string GetErrorText(std::uint32_t code);
void LogErrorText(std::uint32_t code);
// As GetErrorText with the ANSI text trimmed of blanks at both ends; returns 0.
int LogErrorTextAnsi(std::uint32_t code);
// Logs the system text of the calling thread's last error as " Error Message: %s\n".
void LogLastErrorText();

// Replaces every occurrence of find (compared without regard to case) by replacement, keeping the
// case of the rest of input. Returns input unchanged when input or find is missing or shorter than
// two characters, or when find and replacement are equal without regard to case. The search goes
// on from each hit position, or after the inserted text when the replacement itself contains find,
// so a replacement is never replaced again.
// Writes its trace to standard output, not to the log.
[[nodiscard]] std::optional<std::string> FindAndReplaceWithNoCase(const char* input, const char* find,
                                                                  const char* replacement);

}  // namespace vx
