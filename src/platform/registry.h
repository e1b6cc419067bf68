// The program's only way to the Windows registry (Windows).
//
// Free functions that read, write and delete values and keys and log what they do, and the key
// object RegistryKey for callers that keep a key open over several operations. Results are the
// registry's error codes (0 success); 13 (ERROR_INVALID_DATA) marks the program's own argument and
// type errors. The free functions open every key in the agent's view (kAgentRegistryView); a
// RegistryKey opens the view its caller states in the access mask (none: the process's own view).
// Stateless and thread-safe; a RegistryKey belongs to one caller at a time. Nothing is retried.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "base/unique_handle_win.h"

namespace vx {

// The agent's keys live in the 32-bit registry view. Every access states it, so that a 64-bit build
// of the library reaches the same keys as the shipped 32-bit program; for that program it is the
// view it gets anyway on 64-bit Windows, and 32-bit Windows ignores the flag.
inline constexpr REGSAM kAgentRegistryView = KEY_WOW64_32KEY;

// Creates (or opens) root\path with all access and closes it again.
LSTATUS addRegistryKey(HKEY root, const char* path);

// Stores data (UTF-8 text) under name (UTF-8) in root\path, creating the key when missing.
// The name "--" (any case) is the key's default value; the data "--" is empty data. REG_DWORD data
// is read as a signed decimal number; REG_SZ, REG_EXPAND_SZ and REG_BINARY store the UTF-16 text
// with its NUL; REG_MULTI_SZ stores it as a one-string list (two closing NULs); REG_QWORD reads a
// 64-bit decimal number; any other type stores the UTF-16 text like REG_SZ. 13 when name or data
// is missing.
LSTATUS writeValue(HKEY root, const char* path, const char* name, const char* data, DWORD type);

// Deletes a value; "--" (any case) names the key's default value, in both forms.
LSTATUS deleteValue(HKEY root, const char* path, const char* name);
LSTATUS deleteValue(HKEY root, const wchar_t* path, const wchar_t* name);

// Reads up to 4 bytes into *value whatever the value's type (a 2-byte REG_SZ "1" fills the low
// half and leaves the rest as it was); a larger value gives 234. After a failure the caller applies
// its default. A missing key or value (2) is only a debug line.
LSTATUS ReadDwordRegistryData(HKEY root, const char* path, const char* name, DWORD* value);

// Reads a value of any type. out is reset first; after a successful size query it holds the
// value's bytes exactly as stored (a string's own NUL included); the string's terminating NUL
// makes out->c_str() the value's text. A missing value logs nothing.
LSTATUS ReadRegSZ(HKEY root, const char* path, const char* name, std::optional<std::string>& out);

// As ReadRegSZ through the UTF-16 interface, with a UTF-8 value name: out holds the value's
// UTF-16 code units as stored (an odd trailing byte is dropped).
LSTATUS ReadRegSZEx(HKEY root, const char* path, const char* name, std::optional<std::wstring>& out);

// Reads a string value of HKEY_LOCAL_MACHINE\keyPath in the 32-bit (or 64-bit) registry view into
// value (a 2048-byte read; left as it was on failure). The open's or the read's error, 0 on
// success: 13 for a non-string or unterminated value, 234 for one that does not fit. Logs nothing.
LSTATUS ReadRegSZView(const char* keyPath, const char* valueName, std::string& value, bool use64BitView);

// The text of a value read by ReadRegSZ: its bytes up to the first NUL.
[[nodiscard]] std::string RegistryText(const std::string& bytes);

// Deletes root\path with everything below it: 1 when it is gone, 0 otherwise (a missing key too).
int DeleteRegistryKeyTree(HKEY root, const char* path);

// An open registry key. Destruction closes it.
class RegistryKey {
 public:
  RegistryKey() = default;

  // On success any key held before is closed and the view bits of access are remembered.
  LSTATUS OpenKey(HKEY root, const char* path, REGSAM access);
  LSTATUS CreateKey(HKEY root, const char* path, REGSAM access, DWORD* disposition);

  // buffer holds *size bytes. *size is set to 0 first and on success to the bytes read, NUL
  // included. 13 for a type other than REG_SZ/REG_EXPAND_SZ or non-empty data without a final NUL,
  // 234 when the data does not fit. REG_EXPAND_SZ data is returned unexpanded.
  LSTATUS ReadString(const char* name, char* buffer, DWORD* size);
  // Reads a value of any type whole, at most limit bytes: its type and its bytes exactly as stored
  // (a string's NULs, if any, included). ERROR_MORE_DATA (234) for a larger value, or one that keeps
  // growing while it is read; type and bytes are set only on success. Logs nothing.
  LSTATUS ReadWholeValue(const char* name, std::size_t limit, DWORD& type, std::string& bytes);
  // 13 for a type other than REG_DWORD.
  LSTATUS ReadDword(const char* name, DWORD* value);
  // Stores text with its NUL; 13 when text is missing.
  LSTATUS WriteString(const char* name, const char* text, DWORD type);
  LSTATUS WriteDword(const char* name, DWORD value);
  // Values named by UTF-16 text (names that must survive any code page), REG_SZ data. ReadText: 13
  // for another type.
  LSTATUS ReadText(const wchar_t* name, std::wstring& text);
  LSTATUS WriteText(const wchar_t* name, const std::wstring& text);
  LSTATUS DeleteValue(const char* name);
  LSTATUS DeleteValue(const wchar_t* name);
  void CloseKey();

  [[nodiscard]] HKEY handle() const { return key_.get(); }
  [[nodiscard]] REGSAM view() const { return view_; }

 private:
  UniqueHKey key_;
  REGSAM view_ = 0;
};

}  // namespace vx
